// POSIX: Form1 is drawn by the Qt window module, loaded here on demand. Before loading it, the
// display is probed, because the toolkit ends the process when it cannot open one.
#include "common/module_loader_posix.h"
#include "ui/config_window.h"
#include "ui/form1.h"
#include "ui/window_module.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace ui {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Whether an X server accepts a connection, asked through the X client library the toolkit
// itself would use (so authorisation counts too).
bool CanOpenXDisplay() {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) {
        return false;
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool ok = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* c = connect(nullptr, nullptr);
        ok = c != nullptr && hasError(c) == 0;
        if (c != nullptr) {
            disconnect(c);
        }
    }
    dlclose(xcb);
    return ok;
}

bool CanOpenWaylandDisplay() {
    std::string name = Env("WAYLAND_DISPLAY");
    if (name.empty()) {
        return false;
    }
    if (name[0] != '/') {
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            return false;
        }
        name = runtime + "/" + name;
    }
    sockaddr_un address{};
    if (name.size() >= sizeof(address.sun_path)) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return false;
    }
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(s);
    return ok;
}

// Empty when the toolkit will find a display; otherwise why not.
std::string DisplayProblem() {
    std::string platform = Env("QT_QPA_PLATFORM");
    platform = platform.substr(0, platform.find_first_of(";:"));
    if (platform.rfind("wayland", 0) == 0) {
        return CanOpenWaylandDisplay() ? ""
                                       : "the Wayland display named by WAYLAND_DISPLAY "
                                         "cannot be reached";
    }
    if (!platform.empty() && platform != "xcb") {
        return ""; // offscreen, vnc, framebuffer...: nothing to probe
    }
    if (Env("DISPLAY").empty()) {
        return Env("WAYLAND_DISPLAY").empty()
                   ? "neither DISPLAY nor WAYLAND_DISPLAY is set"
                   : "DISPLAY is not set and the Wayland session offers no X server";
    }
    return CanOpenXDisplay() ? "" : "the X display " + Env("DISPLAY") + " cannot be opened";
}

// The module stays loaded: unloading a toolkit is not safe.
WindowModuleEntry LoadWindowModule(std::string& reason) {
    std::string why;
    if (void* symbol = posix::LoadProgramModule(kWindowModuleFile, kWindowModuleEntry, why)) {
        return reinterpret_cast<WindowModuleEntry>(symbol);
    }
    reason = "the window module cannot be loaded: " + why;
    return nullptr;
}

} // namespace

WindowOutcome ShowForm1(bool modal, std::string& reason) {
    reason = DisplayProblem();
    if (!reason.empty()) {
        return WindowOutcome::NoDisplay;
    }
    WindowModuleEntry entry = LoadWindowModule(reason);
    if (entry == nullptr) {
        return WindowOutcome::Unavailable;
    }
    Form1Host host;
    switch (entry(&host, modal ? 1 : 0)) {
    case kWindowNoDisplay:
        reason = "the window toolkit could not open a display";
        return WindowOutcome::NoDisplay;
    case kWindowNoPlatform:
        reason = "the window toolkit has no platform plugin for QT_QPA_PLATFORM=" +
                 Env("QT_QPA_PLATFORM");
        return WindowOutcome::NoDisplay;
    default:
        break;
    }
    return WindowOutcome::Closed;
}

} // namespace ui

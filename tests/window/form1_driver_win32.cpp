// Drives the configuration window of a running addrwatch.exe from outside, the way a user's
// clicks and typing reach it: messages to the window's controls, found by their ids. Used by the
// end-to-end tests under Wine.
//
//   form1_driver.exe STEP...
//     wait               find the window by its title (up to 20 s); every other step needs it
//     title              print the window's title
//     text:ID            print the text of a control          settext:ID=TEXT   WM_SETTEXT
//     check:ID           print a check box's state (0/1/2)    click:ID          BM_CLICK
//     label:ID           a mouse click on a label             visible:ID        print 1 or 0
//     limit:ID           print an edit box's length limit     items:ID          a combo's list
//     select:ID=INDEX    select a combo's item (CB_SETCURSEL)
//     icon               print 1 when the window has an icon  rect              window rectangle
//     select:ID=N        choose item N of a list, as the user does (CBN_SELCHANGE follows)
//     enabled:ID         print 1 or 0                          until:ID=TEXT     wait (up to
//                        90 s) until the control is visible and its text contains TEXT; print
//                        it as "until:ID=..."
//     box                wait for a message box, print its text, caption, buttons and whether
//                        it shows an icon, then press its OK button
//     close              the title-bar close box              gone              wait until closed
//     sleep:MS
// Each printed line is "STEP=VALUE". Exit status 0 when every step ran, 2 otherwise.
#include "common/windows_api.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kTitle[] = "Quillfen - Addrwatch   v1.0.1 ";
HWND g_form = nullptr;

[[noreturn]] void Fail(const std::string& why) {
    std::printf("error=%s\n", why.c_str());
    std::fflush(stdout);
    std::exit(2);
}

void Print(const std::string& step, const std::string& value) {
    std::printf("%s=%s\n", step.c_str(), value.c_str());
    std::fflush(stdout);
}

HWND Control(int id) {
    // Controls sit on the form or on one of its pages.
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    struct Visit {
        static BOOL CALLBACK Child(HWND hwnd, LPARAM lParam) {
            auto* s = reinterpret_cast<Search*>(lParam);
            if (::GetDlgCtrlID(hwnd) == s->id) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        }
    };
    ::EnumChildWindows(g_form, Visit::Child, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        Fail("no control " + std::to_string(id));
    }
    return search.found;
}

std::string WindowText(HWND hwnd) {
    char buffer[1024] = {};
    ::SendMessageA(hwnd, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// Waits until the window has handled everything sent so far (also while it shows a box).
// Waits until the form has handled what was posted to it. A message sent from another thread is
// handled before anything posted, so one round trip can come back while a posted click still
// waits; once the first has come back the form goes on to its posted messages, and a second
// round trip a moment later is handled only after them.
void Sync() {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(g_form, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    ::Sleep(100);
    ::SendMessageTimeoutA(g_form, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

HWND WaitFor(const char* cls, const char* title, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        if (HWND w = ::FindWindowA(cls, title)) {
            return w;
        }
        ::Sleep(50);
    }
    return nullptr;
}

// answer: the button pressed (IDOK, or IDYES / IDNO for a question).
void MessageBoxStep(int answer = IDOK) {
    HWND box = WaitFor("#32770", "Addrwatch", 90000);
    if (box == nullptr) {
        Fail("no message box");
    }
    ::Sleep(200);
    std::string text, buttons;
    bool icon = false;
    struct Found {
        std::string* text;
        std::string* buttons;
        bool* icon;
    } found{&text, &buttons, &icon};
    struct Visit {
        static BOOL CALLBACK Child(HWND hwnd, LPARAM lParam) {
            auto* f = reinterpret_cast<Found*>(lParam);
            char cls[64] = {};
            ::GetClassNameA(hwnd, cls, sizeof(cls));
            const LONG style = ::GetWindowLongA(hwnd, GWL_STYLE);
            if (lstrcmpiA(cls, "Button") == 0) {
                *f->buttons += (f->buttons->empty() ? "" : ",") + WindowText(hwnd);
            } else if (lstrcmpiA(cls, "Static") == 0 && ::IsWindowVisible(hwnd)) {
                if ((style & SS_TYPEMASK) == SS_ICON) {
                    *f->icon = *f->icon || ::SendMessageA(hwnd, STM_GETICON, 0, 0) != 0;
                } else if (!WindowText(hwnd).empty()) {
                    *f->text = WindowText(hwnd);
                }
            }
            return TRUE;
        }
    };
    ::EnumChildWindows(box, Visit::Child, reinterpret_cast<LPARAM>(&found));
    Print("box", text + "|buttons=" + buttons + "|icon=" + (icon ? "1" : "0"));
    ::PostMessageA(box, WM_COMMAND, answer, 0);
    for (int waited = 0; ::IsWindow(box) && waited < 5000; waited += 50) {
        ::Sleep(50);
    }
    Sync();
}

void Step(const std::string& step) {
    const std::size_t colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
    if (verb == "wait") {
        g_form = WaitFor(nullptr, kTitle, 20000);
        if (g_form == nullptr) {
            Fail("no window titled \"" + std::string(kTitle) + "\"");
        }
        Sync();
        return;
    }
    if (verb == "sleep") {
        ::Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
        return;
    }
    if (g_form == nullptr) {
        Fail("the window was not looked for (start with wait)");
    }
    if (verb == "title") {
        Print(step, WindowText(g_form));
    } else if (verb == "text") {
        Print(step, WindowText(Control(std::atoi(arg.c_str()))));
    } else if (verb == "settext") {
        const std::size_t eq = arg.find('=');
        HWND c = Control(std::atoi(arg.substr(0, eq).c_str()));
        const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        ::SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    } else if (verb == "check") {
        Print(step,
              std::to_string(::SendMessageA(Control(std::atoi(arg.c_str())), BM_GETCHECK, 0, 0)));
    } else if (verb == "click") {
        // Posted: a click that opens a message box must not block the driver.
        ::PostMessageA(Control(std::atoi(arg.c_str())), BM_CLICK, 0, 0);
        Sync();
    } else if (verb == "label") {
        HWND c = Control(std::atoi(arg.c_str()));
        ::PostMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        ::PostMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        Sync();
    } else if (verb == "select") {
        // As the user chooses: the item selected, then the list's notice to the window.
        const std::size_t eq = arg.find('=');
        const int id = std::atoi(arg.substr(0, eq).c_str());
        HWND c = Control(id);
        const int index = eq == std::string::npos ? -1 : std::atoi(arg.c_str() + eq + 1);
        ::SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        // Posted: the choice may start work that keeps the window busy.
        ::PostMessageA(::GetParent(c), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(c));
        Sync();
    } else if (verb == "enabled") {
        Print(step, ::IsWindowEnabled(Control(std::atoi(arg.c_str()))) ? "1" : "0");
    } else if (verb == "until") {
        const std::size_t eq = arg.find('=');
        HWND c = Control(std::atoi(arg.substr(0, eq).c_str()));
        const std::string wanted = eq == std::string::npos ? "" : arg.substr(eq + 1);
        for (int waited = 0;; waited += 100) {
            const std::string text = WindowText(c);
            if (::IsWindowVisible(c) && text.find(wanted) != std::string::npos) {
                Print(verb + ":" + arg.substr(0, eq), text);
                break;
            }
            if (waited > 90000) {
                Fail("still no \"" + wanted + "\" in control " + arg.substr(0, eq) + ": \"" + text +
                     "\"");
            }
            ::Sleep(100);
        }
    } else if (verb == "visible") {
        Print(step, ::IsWindowVisible(Control(std::atoi(arg.c_str()))) ? "1" : "0");
    } else if (verb == "limit") {
        Print(step, std::to_string(
                        ::SendMessageA(Control(std::atoi(arg.c_str())), EM_GETLIMITTEXT, 0, 0)));
    } else if (verb == "items") {
        HWND c = Control(std::atoi(arg.c_str()));
        const LRESULT n = ::SendMessageA(c, CB_GETCOUNT, 0, 0);
        std::string items;
        for (LRESULT i = 0; i < n; ++i) {
            // The wide form: the narrow one loses characters across processes under Wine.
            wchar_t buffer[256] = {};
            ::SendMessageW(c, CB_GETLBTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(buffer));
            char narrow[256] = {};
            ::WideCharToMultiByte(CP_ACP, 0, buffer, -1, narrow, sizeof(narrow), nullptr, nullptr);
            items += (i ? "," : "") + std::string(narrow);
        }
        Print(step, items);
    } else if (verb == "icon") {
        const bool has = ::SendMessageA(g_form, WM_GETICON, ICON_BIG, 0) != 0 ||
                         ::SendMessageA(g_form, WM_GETICON, ICON_SMALL, 0) != 0;
        Print(step, has ? "1" : "0");
    } else if (verb == "rect") {
        RECT r{};
        ::GetWindowRect(g_form, &r);
        Print(step, std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) +
                        "+" + std::to_string(r.left) + "+" + std::to_string(r.top));
    } else if (verb == "box") {
        MessageBoxStep();
    } else if (verb == "boxyes" || verb == "boxno") {
        MessageBoxStep(verb == "boxyes" ? IDYES : IDNO);
    } else if (verb == "close") {
        ::PostMessageA(g_form, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (verb == "gone") {
        for (int waited = 0; ::IsWindow(g_form); waited += 50) {
            if (waited > 10000) {
                Fail("the window is still open");
            }
            ::Sleep(50);
        }
        Print(step, "1");
    } else {
        Fail("unknown step " + step);
    }
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        Step(argv[i]);
    }
    return 0;
}

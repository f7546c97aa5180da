// Clicks an interactive setup program through to its end, as a user who accepts every page
// would: presses the default button (id 1: Next, Install, Finish, a message box's OK) of each
// window whose title starts with TITLE (the page's name follows it) whenever it is enabled,
// until no such window is left. Used by the setup tests under Wine.
//
//   setup_driver.exe TITLE [tick:TEXT]
//     tick:TEXT  tick the check box labelled TEXT when it shows (once), before going on
// Prints each text it sees on those windows once, as "text=TEXT", and each check box as
// "check=TEXT|STATE" (its state when first seen). Exit status 0 when the windows came and went,
// 2 when none came within 60 s or they were still open after 170 s.
#include "common/windows_api.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

struct Driver {
    std::wstring title;
    std::wstring tick;
    bool ticked = false;
    std::set<std::wstring> seen;
};

std::string Narrow(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring Text(HWND hwnd) {
    wchar_t buffer[2048] = {};
    ::SendMessageW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void Print(const char* kind, const std::wstring& value) {
    std::printf("%s=%s\n", kind, Narrow(value).c_str());
    std::fflush(stdout);
}

// Waits until the window has handled what was posted to it (see form1_driver's Sync).
void Sync(HWND hwnd) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    ::Sleep(100);
    ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

bool IsCheckBox(HWND hwnd) {
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    const LONG type = ::GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return lstrcmpiW(cls, L"Button") == 0 && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
}

void Look(HWND window, Driver& driver) {
    struct Visit {
        static BOOL CALLBACK Child(HWND hwnd, LPARAM lParam) {
            auto* d = reinterpret_cast<Driver*>(lParam);
            if (!::IsWindowVisible(hwnd)) {
                return TRUE;
            }
            const std::wstring text = Text(hwnd);
            if (IsCheckBox(hwnd)) {
                const LRESULT state = ::SendMessageW(hwnd, BM_GETCHECK, 0, 0);
                if (d->seen.insert(L"check:" + text).second) {
                    Print("check", text + L"|" + std::to_wstring(state));
                }
                if (!d->ticked && text == d->tick) {
                    ::PostMessageW(hwnd, BM_CLICK, 0, 0);
                    d->ticked = true;
                }
            } else if (!text.empty() && d->seen.insert(text).second) {
                Print("text", text);
            }
            return TRUE;
        }
    };
    ::EnumChildWindows(window, Visit::Child, reinterpret_cast<LPARAM>(&driver));
}

std::vector<HWND> Windows(const std::wstring& title) {
    struct Search {
        const std::wstring* title;
        std::vector<HWND> found;
    } search{&title, {}};
    struct Visit {
        static BOOL CALLBACK Top(HWND hwnd, LPARAM lParam) {
            auto* s = reinterpret_cast<Search*>(lParam);
            if (::IsWindowVisible(hwnd) && Text(hwnd).rfind(*s->title, 0) == 0) {
                s->found.push_back(hwnd);
            }
            return TRUE;
        }
    };
    ::EnumWindows(Visit::Top, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("error=usage: setup_driver.exe TITLE [tick:TEXT]\n");
        return 2;
    }
    Driver driver;
    driver.title = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.rfind(L"tick:", 0) == 0) {
            driver.tick = arg.substr(5);
        }
    }
    bool came = false;
    for (int waited = 0; waited < 170000; waited += 300) {
        const std::vector<HWND> windows = Windows(driver.title);
        if (windows.empty()) {
            if (came) {
                return 0;
            }
            if (waited > 60000) {
                std::printf("error=no window with the setup's title\n");
                return 2;
            }
        }
        for (HWND window : windows) {
            came = true;
            Sync(window);
            Look(window, driver);
            Sync(window);
            HWND next = ::GetDlgItem(window, IDOK);
            if (next != nullptr && ::IsWindowEnabled(next) && ::IsWindowVisible(next)) {
                ::PostMessageW(next, BM_CLICK, 0, 0);
                Sync(window);
            }
        }
        ::Sleep(300);
    }
    std::printf("error=the setup's windows are still open\n");
    return 2;
}

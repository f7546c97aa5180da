// Windows: Form1 drawn with plain Win32 controls from the form model. Labels are STATIC
// controls (SS_NOTIFY where they take clicks or show tooltips), the pages are child windows,
// positions go from twips to pixels by the screen's DPI. The window runs its own message loop
// until it is destroyed, so it serves both /config and the installer hook's modal step.
#include "common/windows_api.h"

#include <commctrl.h>

#include "common/win32_handle.h"
#include "ui/config_window.h"
#include "ui/form1.h"

#include <map>
#include <string>

namespace ui {

namespace {

constexpr char kFormClass[] = "Addrwatch.Form1";
constexpr char kPageClass[] = "Addrwatch.Page";

inline void DeleteFontHandle(HFONT f) {
    ::DeleteObject(f);
}
inline void DestroyIconHandle(HICON i) {
    ::DestroyIcon(i);
}
using FontHandle = win32::UniqueHandle<HFONT, DeleteFontHandle>;
using IconHandle = win32::UniqueHandle<HICON, DestroyIconHandle>;

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Pages pass their children's notifications on to the form.
LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return ::SendMessageA(::GetParent(hwnd), msg, wParam, lParam);
    default:
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

bool RegisterClasses(HINSTANCE instance) {
    static bool registered = false;
    if (registered) {
        return true;
    }
    WNDCLASSEXA form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = FormProc;
    form.hInstance = instance;
    form.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    WNDCLASSEXA page = form;
    page.lpfnWndProc = PageProc;
    page.lpszClassName = kPageClass;
    registered = ::RegisterClassExA(&form) != 0 && ::RegisterClassExA(&page) != 0;
    return registered;
}

class Win32FormView final : public FormView {
public:
    explicit Win32FormView(FormHost& host) : host_(host) {}
    Win32FormView(const Win32FormView&) = delete;
    Win32FormView& operator=(const Win32FormView&) = delete;
    ~Win32FormView() override {
        if (hwnd_ != nullptr && !closed_) {
            ::DestroyWindow(hwnd_);
        }
    }

    bool Create(std::string& reason);
    void Show();
    void RunLoop();

    std::string Text(ControlId id) const override;
    void SetText(ControlId id, const std::string& text) override;
    int CheckState(ControlId id) const override;
    void SetCheckState(ControlId id, int state) override;
    void SetBold(ControlId id, bool bold) override;
    void SetVisible(ControlId id, bool visible) override;
    void AddComboItem(ControlId id, const std::string& item) override;
    void SetTitle(const std::string& title) override;
    bool SetIconFromFile(const std::string& path) override;
    void SetIconFromResource(const std::string& name) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void Unload() override;
    void PumpEvents() override;
    void SetEnabled(ControlId id, bool enabled) override;
    int SelectedIndex(ControlId id) const override;
    void SelectIndex(ControlId id, int index) override;

    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    struct Child {
        HWND hwnd = nullptr;
        const ControlSpec* spec = nullptr;
        bool bold = false;
    };

    int Px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }
    HFONT Font(bool bold, bool underline);
    HWND Window(ControlId id) const {
        auto it = children_.find(id);
        return it == children_.end() ? nullptr : it->second.hwnd;
    }
    bool CreateChild(const ControlSpec& spec, HINSTANCE instance);

    FormHost& host_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    int dpi_ = 96;
    std::map<ControlId, Child> children_;
    FontHandle fonts_[4];
    IconHandle bigIcon_;
    IconHandle smallIcon_;
    bool unloading_ = false;
    bool closed_ = false;
};

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* view = reinterpret_cast<Win32FormView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (view == nullptr) {
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    }
    const LRESULT handled = view->Handle(msg, wParam, lParam);
    return handled != -1 ? handled : ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

HFONT Win32FormView::Font(bool bold, bool underline) {
    FontHandle& slot = fonts_[(bold ? 1 : 0) + (underline ? 2 : 0)];
    if (!slot) {
        LOGFONTA lf{};
        lf.lfHeight = -::MulDiv(825, dpi_, 7200); // 8.25 points
        lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
        lf.lfUnderline = underline ? TRUE : FALSE;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lstrcpynA(lf.lfFaceName, "MS Sans Serif", LF_FACESIZE);
        slot.reset(::CreateFontIndirectA(&lf));
    }
    return slot.get();
}

bool Win32FormView::CreateChild(const ControlSpec& spec, HINSTANCE instance) {
    HWND parent = spec.parent == kNoControl ? hwnd_ : Window(spec.parent);
    const char* cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    int height = Px(spec.height);
    int top = Px(spec.top);
    switch (spec.kind) {
    case ControlKind::Label:
        style |= spec.centred ? SS_CENTER : SS_LEFT;
        if (spec.clickable || *spec.tooltip != '\0') {
            style |= SS_NOTIFY;
        }
        break;
    case ControlKind::TextBox:
        cls = "EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= WS_TABSTOP | ES_AUTOHSCROLL | (spec.password ? ES_PASSWORD : 0) |
                 (spec.readOnly ? ES_READONLY : 0);
        break;
    case ControlKind::CheckBox:
        cls = "BUTTON";
        style |= WS_TABSTOP | BS_AUTOCHECKBOX;
        break;
    case ControlKind::ComboBox:
        cls = "COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        height += Px(1200); // room for the drop-down list
        break;
    case ControlKind::Button:
        cls = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    case ControlKind::Choice:
        cls = "COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        height += Px(1800); // room for the whole list
        break;
    case ControlKind::Line:
        style |= SS_ETCHEDHORZ;
        height = 2;
        top -= 1;
        break;
    case ControlKind::Panel:
        cls = kPageClass;
        exStyle = WS_EX_CONTROLPARENT;
        style |= WS_CLIPSIBLINGS;
        break;
    }
    // Captions keep their "&&": the controls show it as one "&".
    HWND child = ::CreateWindowExA(
        exStyle, cls, spec.kind == ControlKind::Panel ? "" : spec.caption, style, Px(spec.left),
        top, Px(spec.width), height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
        instance, nullptr);
    if (child == nullptr) {
        return false;
    }
    ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font(spec.bold, spec.underline)),
                   FALSE);
    if (spec.kind == ControlKind::TextBox) {
        if (spec.password) {
            ::SendMessageA(child, EM_SETPASSWORDCHAR, '*', 0);
        }
        if (spec.maxLength > 0) {
            ::SendMessageA(child, EM_LIMITTEXT, static_cast<WPARAM>(spec.maxLength), 0);
        }
    }
    if (spec.kind == ControlKind::CheckBox) {
        ::SendMessageA(child, BM_SETCHECK,
                       spec.initialCheck == kChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (*spec.tooltip != '\0' && tooltip_ != nullptr) {
        TTTOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = parent;
        tool.uId = reinterpret_cast<UINT_PTR>(child);
        tool.lpszText = const_cast<char*>(spec.tooltip);
        ::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    children_[spec.id] = Child{child, &spec, spec.bold};
    return true;
}

bool Win32FormView::Create(std::string& reason) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    if (!RegisterClasses(instance)) {
        reason = "the window classes cannot be registered";
        return false;
    }
    if (HDC screen = ::GetDC(nullptr)) {
        dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
    }
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, Px(kClientWidthTwips), Px(kClientHeightTwips)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    // The form's design-time title; the opening sequence replaces it before it is shown.
    hwnd_ = ::CreateWindowExA(exStyle, kFormClass, "Form1", style, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              instance, this);
    if (hwnd_ == nullptr) {
        reason = "the window cannot be created (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    tooltip_ =
        ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance, nullptr);
    if (tooltip_ != nullptr) {
        // Long tips wrap instead of running off the screen.
        ::SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, Px(6000));
    }
    for (const ControlSpec& spec : FormControls()) {
        if (!CreateChild(spec, instance)) {
            reason = std::string("the control ") + spec.name + " cannot be created";
            return false;
        }
    }
    return true;
}

void Win32FormView::Show() {
    ::ShowWindow(hwnd_, SW_SHOWNORMAL);
    ::UpdateWindow(hwnd_);
    ::SetForegroundWindow(hwnd_);
}

void Win32FormView::RunLoop() {
    MSG msg;
    while (!closed_) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam)); // leave it for an outer loop
            break;
        }
        if (got == -1) {
            break;
        }
        if (closed_ || !::IsDialogMessageA(hwnd_, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

void Win32FormView::PumpEvents() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (closed_ || !::IsDialogMessageA(hwnd_, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

LRESULT Win32FormView::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND: {
        // BN_CLICKED and STN_CLICKED are both 0: buttons and clickable labels.
        const auto id = static_cast<ControlId>(LOWORD(wParam));
        auto it = lParam != 0 ? children_.find(id) : children_.end();
        if (it == children_.end()) {
            return 0;
        }
        // A list's CBN_SELCHANGE comes only from the user; CB_SETCURSEL sends none.
        const bool chosen =
            HIWORD(wParam) == CBN_SELCHANGE && it->second.spec->kind == ControlKind::Choice;
        if (HIWORD(wParam) == 0 || chosen) {
            host_.Clicked(id);
        }
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const auto id = static_cast<ControlId>(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        auto it = children_.find(id);
        if (it != children_.end() && it->second.spec->blue) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, RGB(0, 0, 255));
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        return -1;
    }
    case WM_CLOSE:
        if (!unloading_) {
            // The close box: Form1 decides (it saves nothing).
            host_.CloseBoxClicked();
        }
        return 0;
    case WM_DESTROY:
        closed_ = true;
        return 0;
    default:
        return -1;
    }
}

std::string Win32FormView::Text(ControlId id) const {
    HWND w = Window(id);
    if (w == nullptr) {
        return {};
    }
    const int length = ::GetWindowTextLengthA(w);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = ::GetWindowTextA(w, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

void Win32FormView::SetText(ControlId id, const std::string& text) {
    HWND w = Window(id);
    if (w == nullptr) {
        return;
    }
    const ControlKind kind = children_.at(id).spec->kind;
    if (kind == ControlKind::Choice) {
        // A list without an edit field shows text only by selecting the item that holds it.
        const LRESULT item = ::SendMessageA(w, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(text.c_str()));
        // No such item (CB_ERR, -1) selects none.
        ::SendMessageA(w, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
        return;
    }
    if (kind != ControlKind::Label) {
        ::SetWindowTextA(w, text.c_str());
        return;
    }
    // A label shows the text as it stands: its "&" would otherwise mark an access key.
    std::string shown;
    for (const char c : text) {
        shown += c;
        if (c == '&') {
            shown += '&';
        }
    }
    ::SetWindowTextA(w, shown.c_str());
}

int Win32FormView::CheckState(ControlId id) const {
    HWND w = Window(id);
    if (w == nullptr) {
        return kUnchecked;
    }
    const LRESULT state = ::SendMessageA(w, BM_GETCHECK, 0, 0);
    return state == BST_CHECKED ? kChecked : state == BST_INDETERMINATE ? kGreyed : kUnchecked;
}

void Win32FormView::SetCheckState(ControlId id, int state) {
    HWND w = Window(id);
    if (w == nullptr) {
        return;
    }
    if (state == kGreyed) {
        // Only a three-state box can show grey; the user's clicks still toggle on and off.
        ::SendMessageA(w, BM_SETSTYLE, BS_AUTO3STATE, TRUE);
    }
    ::SendMessageA(w, BM_SETCHECK,
                   state == kChecked  ? BST_CHECKED
                   : state == kGreyed ? BST_INDETERMINATE
                                      : BST_UNCHECKED,
                   0);
}

void Win32FormView::SetBold(ControlId id, bool bold) {
    auto it = children_.find(id);
    if (it == children_.end()) {
        return;
    }
    it->second.bold = bold;
    ::SendMessageA(it->second.hwnd, WM_SETFONT,
                   reinterpret_cast<WPARAM>(Font(bold, it->second.spec->underline)), TRUE);
    ::InvalidateRect(it->second.hwnd, nullptr, TRUE);
}

void Win32FormView::SetVisible(ControlId id, bool visible) {
    if (HWND w = Window(id)) {
        ::ShowWindow(w, visible ? SW_SHOW : SW_HIDE);
    }
}

void Win32FormView::AddComboItem(ControlId id, const std::string& item) {
    if (HWND w = Window(id)) {
        ::SendMessageA(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
}

void Win32FormView::SetTitle(const std::string& title) {
    ::SetWindowTextA(hwnd_, title.c_str());
}

bool Win32FormView::SetIconFromFile(const std::string& path) {
    IconHandle big(static_cast<HICON>(
        ::LoadImageA(nullptr, path.c_str(), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                     ::GetSystemMetrics(SM_CYICON), LR_LOADFROMFILE)));
    if (!big) {
        return false;
    }
    IconHandle small(static_cast<HICON>(
        ::LoadImageA(nullptr, path.c_str(), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                     ::GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE)));
    ::SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageA(hwnd_, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(small ? small.get() : big.get()));
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);
    return true;
}

void Win32FormView::SetIconFromResource(const std::string& name) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    // Shared resource icons belong to the system; they are not destroyed here.
    auto big = static_cast<HICON>(::LoadImageA(instance, name.c_str(), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    auto small = static_cast<HICON>(::LoadImageA(instance, name.c_str(), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (big != nullptr) {
        ::SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    }
    if (small != nullptr) {
        ::SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
}

void Win32FormView::ShowMessage(const std::string& text, const std::string& caption) {
    ::MessageBoxA(hwnd_, text.c_str(), caption.c_str(), MB_OK);
}

bool Win32FormView::AskYesNo(const std::string& text, const std::string& caption) {
    return ::MessageBoxA(hwnd_, text.c_str(), caption.c_str(), MB_YESNO) == IDYES;
}

void Win32FormView::SetEnabled(ControlId id, bool enabled) {
    if (HWND w = Window(id)) {
        ::EnableWindow(w, enabled ? TRUE : FALSE);
    }
}

int Win32FormView::SelectedIndex(ControlId id) const {
    HWND w = Window(id);
    if (w == nullptr) {
        return -1;
    }
    const LRESULT index = ::SendMessageA(w, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32FormView::SelectIndex(ControlId id, int index) {
    if (HWND w = Window(id)) {
        ::SendMessageA(w, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void Win32FormView::Unload() {
    if (!unloading_) {
        unloading_ = true;
        ::DestroyWindow(hwnd_);
    }
}

} // namespace

WindowOutcome ShowForm1(bool /*modal: the window has no owner, so both forms run alike*/,
                        std::string& reason) {
    Form1Host host;
    {
        Win32FormView view(host);
        if (!view.Create(reason)) {
            return WindowOutcome::Unavailable;
        }
        host.Opened(view);
        view.Show();
        view.RunLoop();
    }
    host.Closed();
    return WindowOutcome::Closed;
}

} // namespace ui

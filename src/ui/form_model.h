// The configuration window Form1 as data: every control with its kind, caption, tooltip, place
// (twips), font marks and initial state. Both renderers build the window from this one table, and
// the window tests address the controls by the ids defined here.
//
// Header-only on purpose: the Qt window module is built from it without linking the program's
// objects, so the check run never has to carry the toolkit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Control ids. The Win32 renderer uses them as child-window ids; the test driver finds the
// controls by them. Indexed arrays take consecutive ids.
enum ControlId : int {
    kNoControl = 0,
    // side bar
    lblSideBar0 = 101,
    lblSideBar1 = 102,
    Line1 = 103,
    lblClose0 = 104,
    lblClose1 = 105,
    // page panels
    picGeneral = 110,
    picSMTP = 111,
    // General page
    Label1 = 200,
    txtWhatIsMyIP = 201,
    Label3 = 202,
    Label6 = 203,
    chkConfigShortcut = 204,
    chkWebsiteShortcut = 205,
    txtWebsite = 206,
    chkUninstallShortcut = 207,
    chkOpenConfig = 208,
    Label4 = 209,
    chkRunAfterInstall = 210,
    chkCreateTask = 211,
    Label89_3 = 212,
    txtScheduledTime = 213,
    Label89_4 = 214,
    cmdSchedule0 = 215,
    cmdSchedule1 = 216,
    cmdSchedule2 = 217,
    // SMTP page
    Label29 = 300,
    Label18 = 301,
    Label16 = 302,
    Label19 = 303,
    Label20 = 304,
    Label11_0 = 305,
    txtSMTPServer = 306,
    Label13 = 307,
    txtSMTPUserName = 308,
    Label12 = 309,
    comboSMTPPort = 310,
    chkUseSSL = 311,
    Label14 = 312,
    txtSMTPPassword = 313,
    chkSMTPAuth = 314,
    Label15 = 315,
    txtFromEmail = 316,
    Label17 = 317,
    txtToEmail = 318,
    Label2 = 319,
    txtEmailSubject = 320,
    cmdTestEmail = 321,
    // General page: how often the task runs, and the start-up check
    lblCheckEvery = 260,
    comboCheckEvery = 261,
    chkCheckAtStartup = 262,
    // General page: the IPv6 check pages, below the automation URL
    lblWhatIsMyIPv6 = 270,
    txtWhatIsMyIPv6 = 271,
    // General page: the last check run's status and a check run on demand
    lblLastCheck = 600,
    cmdCheckNow = 601,
    // SMTP page: how the logon authenticates, and the sign-in for an account logon
    lblAuth = 340,
    comboAuth = 341,
    cmdSignIn = 342,
    cmdSignInCancel = 343,
    lblSignInStatus = 344,
    txtSignInCode = 345,
    txtSignInAddress = 346,
};

// ComboBox has an edit field; Choice only its list (one of its items or none), and a choice
// the user makes in it reaches the form as a click.
enum class ControlKind { Label, TextBox, CheckBox, ComboBox, Button, Line, Panel, Choice };

// Check-box states as the settings store them.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;
inline constexpr int kGreyed = 2;

struct ControlSpec {
    ControlId id;
    const char* name; // the control's name, with its index for arrays ("lblSideBar(0)")
    ControlKind kind;
    ControlId parent;    // picGeneral, picSMTP, or kNoControl for the form itself
    const char* caption; // as designed: "&&" stands for one "&"; initial text of text boxes
    const char* tooltip; // empty when none
    int left, top, width, height; // twips, relative to the parent
    bool bold = false;
    bool underline = false;
    bool centred = false;
    bool clickable = false; // labels that react to a click
    bool blue = false;      // pure blue text (side bar)
    int initialCheck = kUnchecked;
    bool password = false; // shows "*" for every character
    int maxLength = 0;     // 0: no limit
    bool readOnly = false; // a text box whose text can be selected and copied, not changed
};

// The client area of the window, in twips.
inline constexpr int kClientWidthTwips = 10605;
// Tall enough for the SMTP page's sign-in rows; the General page's status band fits too.
inline constexpr int kClientHeightTwips = 6840;

// The band at the top of the General page that holds the last check's status line; the page's
// other controls sit below it.
inline constexpr int kStatusBandTwips = 720;

// The longest password whose protected form always reads back whole from the settings file.
inline constexpr int kPasswordMaxLength = 199;

// The values shown when a setting is missing.
inline constexpr const char* kDefaultTaskTime = "10:00:00";
inline constexpr const char* kDefaultWebsite = "www.quillfen.com";
inline constexpr const char* kDefaultWhatIsMyIP = "http://www.quillfen.com/IPCheck.php";

// The items of the "Check every" choice and the CheckEvery value each one stands for.
struct CheckEveryChoice {
    const char* caption;
    int hours; // 0: daily
};
inline constexpr CheckEveryChoice kCheckEveryChoices[] = {
    {"daily", 0},   {"12 hours", 12}, {"8 hours", 8}, {"6 hours", 6},
    {"4 hours", 4}, {"3 hours", 3},   {"2 hours", 2}, {"1 hour", 1},
};
// The authentication choices of comboAuth, in the order of their OAuthProvider values; a stored
// value that is none of them adds kAuthFromFile after them.
struct AuthChoice {
    const char* caption;
    const char* provider; // the OAuthProvider value
};
inline constexpr AuthChoice kAuthChoices[] = {
    {"Password", ""},
    {"Microsoft account", "microsoft"},
    {"Google account", "google"},
};
inline constexpr const char* kAuthFromFile = "from the settings file";

// The caption as shown: a doubled ampersand reads as one.
inline std::string DisplayCaption(std::string_view designed) {
    std::string shown;
    shown.reserve(designed.size());
    for (std::size_t i = 0; i < designed.size(); ++i) {
        shown += designed[i];
        if (designed[i] == '&' && i + 1 < designed.size() && designed[i + 1] == '&') {
            ++i;
        }
    }
    return shown;
}

inline const std::vector<ControlSpec>& FormControls() {
    using K = ControlKind;
    constexpr ControlId form = kNoControl;
    constexpr ControlId gen = picGeneral;
    constexpr ControlId smtp = picSMTP;
    static const char* const kServerTip = "You can use any valid SMTP server.  ";
    static const char* const kUserTip = "Typically your full email address.";
    static const char* const kFromTip = "This can be the full smtp email address, or a different "
                                        "email address you specify.";
    static const char* const kToTip = "The default email address you wish to send email to.  "
                                      "Normally, this is your email address at work, at least it "
                                      "is for me.";
    auto sideLabel = [](ControlId id, const char* name, const char* caption, int top, bool bold) {
        ControlSpec s{id, name, K::Label, form, caption, "", 240, top, 1695, 255};
        s.bold = bold;
        s.clickable = true;
        s.blue = true;
        return s;
    };
    auto check = [](ControlId id, const char* name, ControlId parent, const char* caption, int l,
                    int t, int w, int h, int initial) {
        ControlSpec s{id, name, K::CheckBox, parent, caption, "", l, t, w, h};
        s.initialCheck = initial;
        return s;
    };
    auto label = [](ControlId id, const char* name, ControlId parent, const char* caption,
                    const char* tip, int l, int t, int w, int h) {
        return ControlSpec{id, name, K::Label, parent, caption, tip, l, t, w, h};
    };
    auto marked = [](ControlSpec s, bool bold, bool underline, bool centred) {
        s.bold = bold;
        s.underline = underline;
        s.centred = centred;
        return s;
    };
    auto text = [](ControlId id, const char* name, ControlId parent, const char* initial,
                   const char* tip, int l, int t, int w, int h) {
        return ControlSpec{id, name, K::TextBox, parent, initial, tip, l, t, w, h};
    };
    auto button = [](ControlId id, const char* name, ControlId parent, const char* caption, int l,
                     int t, int w, int h) {
        return ControlSpec{id, name, K::Button, parent, caption, "", l, t, w, h};
    };

    static const std::vector<ControlSpec> controls = [&] {
        std::vector<ControlSpec> c;
        // Side bar.
        c.push_back(sideLabel(lblSideBar0, "lblSideBar(0)", "General", 360, true));
        c.push_back(sideLabel(lblSideBar1, "lblSideBar(1)", "SMTP Config", 720, false));
        c.push_back(ControlSpec{Line1, "Line1", K::Line, form, "", "", 120, 1560, 1920, 15});
        c.push_back(sideLabel(lblClose0, "lblClose(0)", "Cancel && Close", 1800, false));
        c.push_back(sideLabel(lblClose1, "lblClose(1)", "Save && Close", 2160, false));
        // Pages: both cover the same area right of the side bar.
        c.push_back(
            ControlSpec{picGeneral, "picGeneral", K::Panel, form, "", "", 2160, 0, 8415, 6810});
        c.push_back(ControlSpec{picSMTP, "picSMTP", K::Panel, form, "", "", 2160, 0, 8415, 6810});

        // General page.
        c.push_back(label(Label1, "Label1", gen,
                          "Automation URL:  (do not modify unless instructed!)", "", 360, 240, 5775,
                          255));
        c.push_back(text(txtWhatIsMyIP, "txtWhatIsMyIP", gen, "", "", 360, 480, 5895, 285));
        c.push_back(label(lblWhatIsMyIPv6, "lblWhatIsMyIPv6", gen, "IPv6 check pages:", "", 360,
                          840, 1815, 255));
        c.push_back(text(txtWhatIsMyIPv6, "txtWhatIsMyIPv6", gen, "",
                         "Pages that answer only over IPv6, e.g. https://api6.ipify.org (empty: "
                         "no IPv6 check)",
                         2280, 810, 3975, 285));
        c.push_back(marked(
            label(Label3, "Label3", gen, "Custom Installer Options", "", 360, 1200, 5415, 255),
            true, true, false));
        c.push_back(label(Label6, "Label6", gen,
                          "Start Menu Shortcuts:  (will appear under Start Menu\\Addrwatch)", "",
                          360, 1560, 6135, 255));
        c.push_back(check(chkConfigShortcut, "chkConfigShortcut", gen,
                          "Place a configuration shortcut for this app in the Start Menu", 600,
                          1800, 5775, 375, kChecked));
        c.push_back(check(chkWebsiteShortcut, "chkWebsiteShortcut", gen,
                          "Place a shortcut to this website in the Start Menu:", 600, 2160, 3975,
                          255, kChecked));
        c.push_back(
            text(txtWebsite, "txtWebsite", gen, kDefaultWebsite, "", 4560, 2160, 2775, 285));
        c.push_back(check(chkUninstallShortcut, "chkUninstallShortcut", gen,
                          "Place an uninstall shortcut for this app in the Start Menu", 600, 2400,
                          4935, 375, kChecked));
        c.push_back(check(chkOpenConfig, "chkOpenConfig", gen, "Open Config After Install", 360,
                          2880, 2895, 375, kChecked));
        c.push_back(label(Label4, "Label4", gen,
                          "Useful to change the To: email address and Email Subject when "
                          "installing on different machines.",
                          "", 600, 3240, 7695, 255));
        c.push_back(check(chkRunAfterInstall, "chkRunAfterInstall", gen,
                          "Run Addrwatch after install", 360, 3600, 2655, 255, kChecked));
        c.push_back(check(chkCreateTask, "chkCreateTask", gen,
                          "Automatically Create a Daily Scheduled Task after install, at the time "
                          "defined below:",
                          360, 3960, 7455, 255, kChecked));
        c.push_back(label(Label89_3, "Label89(3)", gen, "Specify Time (hh:mm:ss)", "", 720, 4320,
                          2055, 255));
        c.push_back(text(txtScheduledTime, "txtScheduledTime", gen, kDefaultTaskTime, "", 720, 4560,
                         1695, 285));
        c.push_back(label(Label89_4, "Label89(4)", gen, "Must be 24 hour format!", "", 720, 4920,
                          1815, 255));
        // Moved right, and two of them narrowed, to make room for the choices beside the time.
        c.push_back(button(cmdSchedule0, "cmdSchedule(0)", gen, "Create Schedule on This PC", 4020,
                           4320, 2655, 375));
        c.push_back(
            button(cmdSchedule1, "cmdSchedule(1)", gen, "Delete Schedule", 6780, 4320, 1575, 375));
        c.push_back(button(cmdSchedule2, "cmdSchedule(2)", gen, "Open Windows Task Scheduler", 5700,
                           4800, 2655, 375));
        c.push_back(
            label(lblCheckEvery, "lblCheckEvery", gen, "Check every", "", 2820, 4320, 1095, 240));
        c.push_back(ControlSpec{comboCheckEvery, "comboCheckEvery", K::Choice, gen, "", "", 2820,
                                4560, 1095, 315});
        c.push_back(check(chkCheckAtStartup, "chkCheckAtStartup", gen, "Also check after start-up",
                          2820, 4920, 2775, 255, kUnchecked));

        // SMTP page.
        c.push_back(marked(label(Label29, "Label29", smtp,
                                 "I need an SMTP account to communicate via email.  ", "", 360, 120,
                                 7575, 255),
                           false, false, true));
        c.push_back(marked(label(Label18, "Label18", smtp, "Suggestion: ", "", 120, 480, 8055, 255),
                           true, true, true));
        c.push_back(marked(label(Label16, "Label16", smtp,
                                 "Setup a new Gmail account for use with this utility for SMTP, "
                                 "and configure it here.  ",
                                 "", 120, 840, 8055, 255),
                           false, false, true));
        c.push_back(marked(label(Label19, "Label19", smtp,
                                 "For a typical Gmail setup, you use smtp.gmail.com as the server, "
                                 "the full email address as the username, check Authenticate, use "
                                 "SMTP port 465 and use SSL.  ",
                                 "", 360, 1200, 7575, 495),
                           false, false, true));
        c.push_back(marked(label(Label20, "Label20", smtp,
                                 "The email password is stored in the INI file with basic "
                                 "encryption.",
                                 "", 480, 1800, 7335, 255),
                           true, false, true));
        c.push_back(
            label(Label11_0, "Label11(0)", smtp, "SMTP Server", kServerTip, 240, 2160, 1815, 255));
        c.push_back(
            text(txtSMTPServer, "txtSMTPServer", smtp, "", kServerTip, 240, 2400, 3135, 285));
        c.push_back(
            label(Label13, "Label13", smtp, "SMTP Username", kUserTip, 4920, 2160, 1455, 255));
        c.push_back(
            text(txtSMTPUserName, "txtSMTPUserName", smtp, "", kUserTip, 4920, 2400, 3135, 285));
        c.push_back(label(Label12, "Label12", smtp, "SMTP Port", "", 240, 2760, 975, 255));
        c.push_back(ControlSpec{comboSMTPPort, "comboSMTPPort", K::ComboBox, smtp, "", "", 240,
                                3000, 1215, 315});
        c.push_back(
            check(chkUseSSL, "chkUseSSL", smtp, "Use SSL", 1680, 3000, 1215, 255, kUnchecked));
        c.push_back(label(Label14, "Label14", smtp, "SMTP Password", "", 4920, 2760, 1455, 255));
        ControlSpec password =
            text(txtSMTPPassword, "txtSMTPPassword", smtp, "", "", 4920, 3000, 3135, 285);
        password.password = true;
        password.maxLength = kPasswordMaxLength;
        c.push_back(password);
        c.push_back(check(chkSMTPAuth, "chkSMTPAuth", smtp, "Authenticate", 6600, 3360, 1455, 255,
                          kUnchecked));
        c.push_back(label(Label15, "Label15", smtp, "Default From Email Address (must be valid)",
                          kFromTip, 240, 3480, 3135, 255));
        c.push_back(text(txtFromEmail, "txtFromEmail", smtp, "", kFromTip, 240, 3720, 3135, 285));
        c.push_back(label(Label17, "Label17", smtp,
                          "Send Email To:  (Seperate multiple email addresses with a comma and "
                          "space.)",
                          kToTip, 240, 4080, 6495, 255));
        c.push_back(text(txtToEmail, "txtToEmail", smtp, "", kToTip, 240, 4320, 7815, 285));
        c.push_back(label(Label2, "Label2", smtp, "Email Subject:", "", 240, 4680, 2295, 255));
        c.push_back(text(txtEmailSubject, "txtEmailSubject", smtp, "", "", 240, 4920, 4455, 285));
        c.push_back(marked(button(cmdTestEmail, "cmdTestEmail", smtp, "Save && Send Test Email",
                                  5160, 4800, 2895, 375),
                           true, false, false));

        // The status band: everything else on the General page moves below it.
        for (ControlSpec& s : c) {
            if (s.parent == gen) {
                s.top += kStatusBandTwips;
            }
        }
        // Two lines: a long detail wraps rather than running under the button.
        c.push_back(
            label(lblLastCheck, "lblLastCheck", gen, "Last check: never", "", 360, 150, 6135, 510));
        c.push_back(button(cmdCheckNow, "cmdCheckNow", gen, "Check Now", 6600, 120, 1455, 375));
        // SMTP page, below the rest: the logon's kind and the sign-in. The cancel button and the
        // code and address boxes show only while a sign-in waits for the user.
        c.push_back(label(lblAuth, "lblAuth", smtp, "Log on with:", "", 240, 5445, 1215, 255));
        c.push_back(
            ControlSpec{comboAuth, "comboAuth", K::Choice, smtp, "", "", 1500, 5400, 2655, 315});
        c.push_back(button(cmdSignIn, "cmdSignIn", smtp, "Sign In...", 4320, 5370, 1695, 375));
        c.push_back(
            button(cmdSignInCancel, "cmdSignInCancel", smtp, "Cancel", 6120, 5370, 1935, 375));
        // Two lines: a provider's reason can be long.
        c.push_back(label(lblSignInStatus, "lblSignInStatus", smtp, "", "", 240, 5850, 7815, 435));
        ControlSpec code = text(txtSignInCode, "txtSignInCode", smtp, "", "", 240, 6330, 1815, 285);
        code.readOnly = true;
        c.push_back(code);
        ControlSpec address =
            text(txtSignInAddress, "txtSignInAddress", smtp, "", "", 2160, 6330, 5895, 285);
        address.readOnly = true;
        c.push_back(address);
        return c;
    }();
    return controls;
}

inline const ControlSpec* FindControl(ControlId id) {
    for (const ControlSpec& s : FormControls()) {
        if (s.id == id) {
            return &s;
        }
    }
    return nullptr;
}

} // namespace ui

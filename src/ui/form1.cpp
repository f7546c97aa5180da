#include "ui/form1.h"

#include "app/single_instance.h"
#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/shell.h"
#include "common/shell_process.h"
#include "common/text.h"
#include "health/health_record.h"
#include "mail/send_email.h"
#include "monitor/wan_ip.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "settings/ini_file.h"
#include "ui/schedule_commands.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>

namespace ui {

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kEmail = "EmailConfig";
// How long "Send Test Email" waits for a check run to end before it gives up.
constexpr std::chrono::milliseconds kTestEmailGuardWait{30000};

std::string Read(const char* section, const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, section, key);
}

void Write(const char* section, const char* key, const std::string& value) {
    CommonModule::WriteINI(CommonModule::sAppINI, section, key, value);
}

} // namespace

std::string Form1Title() {
    return "Quillfen - " + CommonModule::AppVersionText("", "");
}

int ParseCheckState(const std::string& stored) {
    // A whole number, blanks around it allowed as the language's own conversion allows them.
    std::size_t first = stored.find_first_not_of(' ');
    std::size_t last = stored.find_last_not_of(' ');
    if (first == std::string::npos) {
        return -1;
    }
    const char* begin = stored.data() + first;
    const char* end = stored.data() + last + 1;
    if (*begin == '+') {
        ++begin;
    }
    int value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || value < kUnchecked || value > kGreyed) {
        return -1;
    }
    return value;
}

void Form1::Form_Load() {
    view_.SetTitle(Form1Title());
    const std::string icon = CommonModule::AppPath() + "applogo.ico";
    if (!CommonModule::DoesFileExist(icon) || !view_.SetIconFromFile(icon)) {
        view_.SetIconFromResource("a1");
    }
    FillScheduleChoices();
    // Before LoadSettings, which chooses one of them.
    for (const AuthChoice& choice : kAuthChoices) {
        view_.AddComboItem(comboAuth, choice.caption);
    }
    ShowSignInWait(false);
    LoadSettings();
    HideAllPages();
    // After LoadSettings, so a stored port stays in the edit field.
    view_.AddComboItem(comboSMTPPort, "25");
    view_.AddComboItem(comboSMTPPort, "465");
    view_.AddComboItem(comboSMTPPort, "587");
    view_.SetVisible(picGeneral, true);
    ShowLastCheck();
    saved_ = Snapshot();
}

void Form1::ShowLastCheck() {
    view_.SetText(lblLastCheck, health::StoredStatusLine());
}

std::string Form1::Snapshot() const {
    std::string values;
    for (const ControlSpec& s : FormControls()) {
        if (s.readOnly) {
            continue; // shown, never saved: the sign-in's code and address
        }
        if (s.kind == ControlKind::TextBox || s.kind == ControlKind::ComboBox ||
            s.kind == ControlKind::Choice) {
            values += view_.Text(s.id);
        } else if (s.kind == ControlKind::CheckBox) {
            values += std::to_string(view_.CheckState(s.id));
        } else {
            continue;
        }
        values += '\0';
    }
    return values;
}

void Form1::cmdCheckNow_Click() {
    if (checking_) {
        return; // a click while the check runs: the window's events are served meanwhile
    }
    checking_ = true;
    if (Snapshot() != saved_ &&
        view_.AskYesNo("Save your changes before the check? The check uses the saved settings.",
                       kMessageCaption)) {
        SaveSettings();
    }
    // No arguments select the check run; the wait pumps the window's events.
    std::string error;
    constexpr int kHidden = 0;
    if (!CommonModule::ShellAndWaitForTermination("\"" + CommonModule::AppExePath() + "\"", kHidden,
                                                  error)) {
        view_.ShowMessage("The check could not be run: " + error, kMessageCaption);
    }
    ShowLastCheck();
    checking_ = false;
}

void Form1::HideAllPages() {
    view_.SetVisible(picGeneral, false);
    view_.SetVisible(picSMTP, false);
}

void Form1::lblSideBar_Click(int index) {
    constexpr ControlId sideBar[] = {lblSideBar0, lblSideBar1};
    if (index < 0 || index > 1) {
        return;
    }
    for (ControlId label : sideBar) {
        view_.SetBold(label, false);
    }
    view_.SetBold(sideBar[index], true);
    HideAllPages();
    view_.SetVisible(index == 0 ? picGeneral : picSMTP, true);
}

void Form1::lblClose_Click(int index) {
    if (index == 1) {
        SaveSettings();
    }
    view_.Unload();
}

void Form1::CloseBox() {
    if (signingIn_) {
        closeBoxAfterSignIn_ = true;
        cmdSignInCancel_Click();
        return;
    }
    view_.Unload();
}

void Form1::LoadText(ControlId id, const char* section, const char* key, const char* fallback) {
    const std::string value = Read(section, key);
    if (!value.empty()) {
        view_.SetText(id, value);
    } else if (fallback != nullptr) {
        view_.SetText(id, fallback);
    }
}

void Form1::LoadCheck(ControlId id, const char* section, const char* key, int fallback) {
    const std::string value = Read(section, key);
    if (value.empty()) {
        view_.SetCheckState(id, fallback);
        return;
    }
    // A value that is no state leaves the box as it was.
    const int state = ParseCheckState(value);
    if (state >= 0) {
        view_.SetCheckState(id, state);
    }
}

void Form1::LoadSettings() {
    LoadCheck(chkCreateTask, kGeneral, "CreateTask", kChecked);
    LoadText(txtScheduledTime, kGeneral, "TaskTime", kDefaultTaskTime);
    LoadCheck(chkOpenConfig, kGeneral, "RunConfigAfterInstall", kChecked);
    LoadCheck(chkRunAfterInstall, kGeneral, "RunAfterInstall", kChecked);
    LoadCheck(chkWebsiteShortcut, kGeneral, "WebsiteShortcut", kChecked);
    LoadText(txtWebsite, kGeneral, "WebsiteURL", kDefaultWebsite);
    LoadCheck(chkUninstallShortcut, kGeneral, "UninstallShortcut", kChecked);
    LoadCheck(chkConfigShortcut, kGeneral, "ConfigShortcut", kChecked);
    LoadText(txtWhatIsMyIP, kGeneral, "WhatIsMyIP", kDefaultWhatIsMyIP);
    LoadText(txtWhatIsMyIPv6, kGeneral, "WhatIsMyIPv6", nullptr);
    view_.SetText(txtEmailSubject, Read(kEmail, "Subject"));
    LoadCheck(chkUseSSL, kEmail, "UseSSL", kUnchecked);
    LoadCheck(chkSMTPAuth, kEmail, "SMTPAuth", kUnchecked);
    LoadText(txtFromEmail, kEmail, "FromEmail", nullptr);
    LoadText(txtToEmail, kEmail, "ToEmail", nullptr);
    const std::string stored = Read(kEmail, "SMTPPassword");
    if (!stored.empty()) {
        // A value that does not decode leaves the box empty.
        Outcome<std::string> plain = modBase85::DecryptText(stored, modBase85::kPasswordKey);
        view_.SetText(txtSMTPPassword, plain.ok() ? plain.value() : std::string());
    }
    LoadText(txtSMTPUserName, kEmail, "SMTPUserName", nullptr);
    LoadText(comboSMTPPort, kEmail, "SMTPPort", nullptr);
    LoadText(txtSMTPServer, kEmail, "SMTPServer", nullptr);
    LoadScheduleChoices();
    LoadAuthChoice();
}

void Form1::FillScheduleChoices() {
    for (const CheckEveryChoice& choice : kCheckEveryChoices) {
        view_.AddComboItem(comboCheckEvery, choice.caption);
    }
}

// A CheckEvery the schedule would take as daily shows as daily.
void Form1::LoadScheduleChoices() {
    const int hours = modGetExternalIP::ParseCheckEvery(Read(kGeneral, "CheckEvery")).value_or(0);
    for (const CheckEveryChoice& choice : kCheckEveryChoices) {
        if (choice.hours == hours) {
            view_.SetText(comboCheckEvery, choice.caption);
        }
    }
    LoadCheck(chkCheckAtStartup, kGeneral, "CheckAtStartup", kUnchecked);
}

modGetExternalIP::ScheduleOptions Form1::ScheduleChoices() const {
    modGetExternalIP::ScheduleOptions options;
    const std::string shown = view_.Text(comboCheckEvery);
    for (const CheckEveryChoice& choice : kCheckEveryChoices) {
        if (shown == choice.caption) {
            options.everyHours = choice.hours;
        }
    }
    options.atStartup = view_.CheckState(chkCheckAtStartup) == kChecked;
    return options;
}

void Form1::SaveScheduleChoices() {
    Write(kGeneral, "CheckEvery", std::to_string(ScheduleChoices().everyHours));
    WriteCheck(chkCheckAtStartup, kGeneral, "CheckAtStartup");
}

int AuthChoiceIndex(const std::string& stored) {
    // Read as the sign-in and the check run read it: in any case.
    const std::string lower = text::ToLowerAscii(stored);
    const auto* found = std::find_if(std::begin(kAuthChoices), std::end(kAuthChoices),
                                     [&](const AuthChoice& c) { return lower == c.provider; });
    return static_cast<int>(found - std::begin(kAuthChoices));
}

void Form1::LoadAuthChoice() {
    const std::string stored = Read(kEmail, "OAuthProvider");
    const int index = AuthChoiceIndex(stored);
    if (index == static_cast<int>(std::size(kAuthChoices))) {
        if (otherProvider_.empty()) {
            view_.AddComboItem(comboAuth, kAuthFromFile);
        }
        otherProvider_ = stored;
    }
    view_.SelectIndex(comboAuth, index);
    comboAuth_Click();
}

std::string Form1::ChosenProvider() const {
    const int index = view_.SelectedIndex(comboAuth);
    if (index >= 0 && index < static_cast<int>(std::size(kAuthChoices))) {
        return kAuthChoices[index].provider;
    }
    return otherProvider_;
}

void Form1::comboAuth_Click() {
    const bool password = ChosenProvider().empty();
    view_.SetEnabled(txtSMTPPassword, password);
    view_.SetEnabled(cmdSignIn, !password && !signingIn_);
}

void Form1::WriteText(ControlId id, const char* section, const char* key) {
    Write(section, key, view_.Text(id));
}

void Form1::WriteCheck(ControlId id, const char* section, const char* key) {
    Write(section, key, std::to_string(view_.CheckState(id)));
}

void Form1::SaveEmailSettings() {
    WriteText(txtSMTPServer, kEmail, "SMTPServer");
    WriteText(comboSMTPPort, kEmail, "SMTPPort");
    WriteText(txtSMTPUserName, kEmail, "SMTPUserName");
    Write(kEmail, "SMTPPassword",
          modBase85::EncryptText(view_.Text(txtSMTPPassword), modBase85::kPasswordKey));
    WriteText(txtFromEmail, kEmail, "FromEmail");
    WriteText(txtToEmail, kEmail, "ToEmail");
    WriteCheck(chkSMTPAuth, kEmail, "SMTPAuth");
    WriteCheck(chkUseSSL, kEmail, "UseSSL");
    WriteText(txtEmailSubject, kEmail, "Subject");
    Write(kEmail, "OAuthProvider", ChosenProvider());
}

void Form1::SaveSettings() {
    SaveEmailSettings();
    WriteText(txtWhatIsMyIP, kGeneral, "WhatIsMyIP");
    WriteText(txtWhatIsMyIPv6, kGeneral, "WhatIsMyIPv6");
    WriteCheck(chkCreateTask, kGeneral, "CreateTask");
    WriteText(txtScheduledTime, kGeneral, "TaskTime");
    WriteCheck(chkUninstallShortcut, kGeneral, "UninstallShortcut");
    WriteCheck(chkConfigShortcut, kGeneral, "ConfigShortcut");
    WriteCheck(chkWebsiteShortcut, kGeneral, "WebsiteShortcut");
    WriteText(txtWebsite, kGeneral, "WebsiteURL");
    WriteCheck(chkOpenConfig, kGeneral, "RunConfigAfterInstall");
    WriteCheck(chkRunAfterInstall, kGeneral, "RunAfterInstall");
    SaveScheduleChoices();
    saved_ = Snapshot();
}

void Form1::cmdTestEmail_Click() {
    SaveEmailSettings();
    const std::string address = modGetExternalIP::GetWanIPDefault();
    // An OAuth send renews the token, which a check run may be rotating: wait for the run's guard.
    std::unique_ptr<modGetExternalIP::SingleInstance> guard;
    if (!Read(kEmail, "OAuthProvider").empty()) {
        guard = modGetExternalIP::AwaitSingleInstance(kTestEmailGuardWait);
    }
    const bool blocked = guard && !guard->Acquired();
    if (blocked) {
        CommonModule::DPrint("Form1\\cmdTestEmail: a check run is in progress and did not end "
                             "within " +
                             std::to_string(kTestEmailGuardWait.count() / 1000) +
                             " seconds; no test email was sent");
    }
    const bool sent = !blocked && modSendEmail::SendEmail(address);
    view_.ShowMessage(sent ? "Test email successfully sent!"
                           : "Failed to send test email, please check your settings.",
                      kMessageCaption);
}

void Form1::cmdSchedule_Click(int index) {
    switch (index) {
    case 0:
        // The time as typed now, even empty: the stored TaskTime is not consulted. The choices
        // beside it count as shown, too.
        platform::CreateSchedule(view_.Text(txtScheduledTime), ScheduleChoices());
        view_.ShowMessage("Schedule Created!", kMessageCaption);
        break;
    case 1:
        platform::DeleteSchedule();
        view_.ShowMessage("Schedule Deleted!", kMessageCaption);
        break;
    case 2: {
        const std::string instead = platform::OpenTaskScheduler();
        if (!instead.empty()) {
            view_.ShowMessage(instead, kMessageCaption);
        }
        break;
    }
    default:
        break;
    }
}

void Form1::ShowSignInWait(bool waiting) {
    view_.SetVisible(cmdSignInCancel, waiting);
    view_.SetVisible(txtSignInCode, false);
    view_.SetVisible(txtSignInAddress, false);
    view_.SetEnabled(comboAuth, !waiting);
    view_.SetEnabled(cmdSignIn, !waiting && !ChosenProvider().empty());
    if (waiting) {
        view_.SetText(lblSignInStatus, "Signing in...");
    }
}

void Form1::ShowSignInPrompt(const oauth::SignInPrompt& prompt) {
    const bool device = !prompt.userCode.empty();
    view_.SetText(lblSignInStatus,
                  device ? "Open this address in a browser and enter the code:"
                         : "Sign in in the browser. If none opened, open this address:");
    view_.SetText(txtSignInCode, prompt.userCode);
    view_.SetText(txtSignInAddress, device ? prompt.verificationUri : prompt.authorizationUrl);
    view_.SetVisible(txtSignInCode, device);
    view_.SetVisible(txtSignInAddress, true);
}

bool Form1::WaitForUser(std::chrono::milliseconds time) {
    using Clock = std::chrono::steady_clock;
    // Short slices, so a click on Cancel ends the wait at once.
    constexpr std::chrono::milliseconds kSlice{50};
    const Clock::time_point end = Clock::now() + time;
    for (;;) {
        view_.PumpEvents();
        if (cancelRequested_) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        ::platform::SleepMilliseconds(static_cast<unsigned>(std::min(left, kSlice).count()));
    }
}

void Form1::cmdSignIn_Click() {
    const std::string chosen = ChosenProvider();
    if (signingIn_ || chosen.empty()) {
        return;
    }
    // The sign-in reads its provider's settings from the file, so the choice goes there first;
    // unless the sign-in succeeds it is put back.
    const std::string previous = Read(kEmail, "OAuthProvider");
    const bool changed = chosen != previous;
    if (changed) {
        Write(kEmail, "OAuthProvider", chosen);
    }
    oauth::SignInResult result;
    const Outcome<oauth::OAuthSettings> settings = oauth::LoadOAuthSettings();
    if (changed && Read(kEmail, "OAuthProvider") != chosen) {
        // Otherwise the sign-in would run for the provider the file still names.
        result = {oauth::SignInStatus::SettingsError,
                  {},
                  "Not signed in: the choice cannot be written to " + CommonModule::sAppINI};
    } else if (!settings) {
        result = {oauth::SignInStatus::SettingsError, {}, settings.error().description};
    } else {
        signingIn_ = true;
        cancelRequested_ = false;
        ShowSignInWait(true);
        oauth::SignInEvents events;
        events.prompt = [this](const oauth::SignInPrompt& prompt) { ShowSignInPrompt(prompt); };
        events.wait = [this](std::chrono::milliseconds time) { return WaitForUser(time); };
        result = signIn_(settings.value(), events);
        signingIn_ = false;
        ShowSignInWait(false);
    }
    if (result.status == oauth::SignInStatus::SignedIn) {
        // The sign-in wrote the account to the file; the box shows it, so saving keeps it.
        if (!result.account.empty()) {
            view_.SetText(txtSMTPUserName, result.account);
        }
    } else if (changed) {
        Write(kEmail, "OAuthProvider", previous);
    }
    view_.SetText(lblSignInStatus, result.message);

    if (closeAfterSignIn_ != kNoControl) {
        lblClose_Click(closeAfterSignIn_ - lblClose0);
    } else if (closeBoxAfterSignIn_) {
        CloseBox();
    }
    closeAfterSignIn_ = kNoControl;
    closeBoxAfterSignIn_ = false;
}

void Form1::cmdSignInCancel_Click() {
    cancelRequested_ = signingIn_;
}

void Form1::Click(ControlId id) {
    if (signingIn_) {
        // The window stays served while a sign-in waits: Cancel ends the wait, a close ends it
        // and happens after it; other commands wait until it has ended.
        switch (id) {
        case cmdSignInCancel:
            cmdSignInCancel_Click();
            break;
        case lblClose0:
        case lblClose1:
            closeAfterSignIn_ = id;
            cmdSignInCancel_Click();
            break;
        case lblSideBar0:
        case lblSideBar1:
            lblSideBar_Click(id - lblSideBar0);
            break;
        default:
            break;
        }
        return;
    }
    switch (id) {
    case lblSideBar0:
    case lblSideBar1:
        lblSideBar_Click(id - lblSideBar0);
        break;
    case lblClose0:
    case lblClose1:
        lblClose_Click(id - lblClose0);
        break;
    case cmdTestEmail:
        cmdTestEmail_Click();
        break;
    case cmdSchedule0:
    case cmdSchedule1:
    case cmdSchedule2:
        cmdSchedule_Click(id - cmdSchedule0);
        break;
    case cmdCheckNow:
        cmdCheckNow_Click();
        break;
    case comboAuth:
        comboAuth_Click();
        break;
    case cmdSignIn:
        cmdSignIn_Click();
        break;
    default:
        break;
    }
}

// --- the bridge a renderer talks to ---------------------------------------------------------

namespace {
// The open window whose events a waiting launch lets run.
FormView* g_pumpView = nullptr;
void PumpOpenWindow() {
    if (g_pumpView != nullptr) {
        g_pumpView->PumpEvents();
    }
}
} // namespace

void Form1Host::Opened(FormView& view) {
    form_ = std::make_unique<Form1>(view, signIn_);
    g_pumpView = &view;
    CommonModule::SetWindowEventPump(PumpOpenWindow);
    form_->Form_Load();
}

void Form1Host::Clicked(ControlId id) {
    if (form_ != nullptr) {
        form_->Click(id);
    }
}

void Form1Host::CloseBoxClicked() {
    if (form_ != nullptr) {
        form_->CloseBox();
    }
}

void Form1Host::Closed() {
    if (form_ != nullptr) {
        CommonModule::SetWindowEventPump(nullptr);
        g_pumpView = nullptr;
        form_.reset();
    }
}

Form1Host::~Form1Host() {
    Closed();
}

} // namespace ui

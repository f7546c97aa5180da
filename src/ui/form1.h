// Form1: the configuration window's behaviour, independent of the toolkit that draws it.
#pragma once

#include "app/daily_task.h"
#include "oauth/oauth.h"
#include "ui/form_view.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace ui {

// The caption of every message box of the window: the program's title.
inline constexpr const char* kMessageCaption = "Addrwatch";

// The sign-in the window runs; tests put a scripted one in its place.
using SignInFunction =
    std::function<oauth::SignInResult(const oauth::OAuthSettings&, const oauth::SignInEvents&)>;

class Form1 {
public:
    explicit Form1(FormView& view, SignInFunction signIn = oauth::SignIn)
        : view_(view), signIn_(std::move(signIn)) {}

    // The opening sequence: title, icon, LoadSettings, HideAllPages, port list, General page.
    void Form_Load();
    void HideAllPages();
    void lblSideBar_Click(int index);
    // 1 saves every setting first; both unload the window.
    void lblClose_Click(int index);
    void cmdTestEmail_Click();
    void cmdSchedule_Click(int index);
    // Runs one check as its own process with the settings as saved (asking first whether to
    // save unsaved changes), waits for it with the window responsive, then shows its outcome.
    void cmdCheckNow_Click();
    // The status line from the stored outcome of the last check run.
    void ShowLastCheck();
    // The title-bar close box: nothing is saved.
    void CloseBox();
    // Makes the password box and "Sign In..." fit the authentication choice.
    void comboAuth_Click();
    // Signs in with the chosen account kind. Only a sign-in that succeeds changes the settings
    // file: the choice (OAuthProvider), and the account name that the sign-in itself writes.
    void cmdSignIn_Click();
    void cmdSignInCancel_Click();

    void LoadSettings();
    void SaveSettings();

    // Routes a click to its handler; controls without one ignore it.
    void Click(ControlId id);

private:
    void LoadText(ControlId id, const char* section, const char* key, const char* fallback);
    void LoadCheck(ControlId id, const char* section, const char* key, int fallback);
    void WriteText(ControlId id, const char* section, const char* key);
    void WriteCheck(ControlId id, const char* section, const char* key);
    void SaveEmailSettings();
    // The "Check every" choice and the start-up box.
    void FillScheduleChoices();
    void LoadScheduleChoices();
    void SaveScheduleChoices();
    modGetExternalIP::ScheduleOptions ScheduleChoices() const;
    // The values of every text box, combo box and check box, to tell unsaved changes.
    std::string Snapshot() const;

    void LoadAuthChoice();
    // The OAuthProvider value of the current choice.
    std::string ChosenProvider() const;
    void ShowSignInWait(bool waiting);
    void ShowSignInPrompt(const oauth::SignInPrompt& prompt);
    // Lets the window run for this long; false once the user has cancelled.
    bool WaitForUser(std::chrono::milliseconds time);

    FormView& view_;
    std::string saved_; // Snapshot as loaded or last saved
    bool checking_ = false;
    SignInFunction signIn_;
    // A stored OAuthProvider that is none of the window's choices, kept to be saved as it is.
    std::string otherProvider_;
    bool signingIn_ = false;
    bool cancelRequested_ = false;
    // A close asked for while signing in; it happens once the sign-in has ended.
    ControlId closeAfterSignIn_ = kNoControl;
    bool closeBoxAfterSignIn_ = false;
};

// The window's title: "Quillfen - " and the version text.
std::string Form1Title();

// A stored check state, or -1 when the text is not a whole number from 0 to 2.
int ParseCheckState(const std::string& stored);

// The authentication choice (index into kAuthChoices) that shows a stored OAuthProvider value;
// std::size(kAuthChoices), the "from the settings file" item, for any other value.
int AuthChoiceIndex(const std::string& stored);

// Runs Form1 in a FormHost: the bridge a renderer talks to.
class Form1Host : public FormHost {
public:
    explicit Form1Host(SignInFunction signIn = oauth::SignIn) : signIn_(std::move(signIn)) {}
    void Opened(FormView& view) override;
    void Clicked(ControlId id) override;
    void CloseBoxClicked() override;
    void Closed() override;
    ~Form1Host() override;

private:
    SignInFunction signIn_;
    std::unique_ptr<Form1> form_;
};

} // namespace ui

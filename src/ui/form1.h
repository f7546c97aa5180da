// Form1: the configuration window's behaviour, independent of the toolkit that draws it.
#pragma once

#include "app/daily_task.h"
#include "ui/form_view.h"

#include <memory>
#include <string>

namespace ui {

// The caption of every message box of the window: the program's title.
inline constexpr const char* kMessageCaption = "Addrwatch";

class Form1 {
public:
    explicit Form1(FormView& view) : view_(view) {}

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

    FormView& view_;
    std::string saved_; // Snapshot as loaded or last saved
    bool checking_ = false;
};

// The window's title: "Quillfen - " and the version text.
std::string Form1Title();

// A stored check state, or -1 when the text is not a whole number from 0 to 2.
int ParseCheckState(const std::string& stored);

// Runs Form1 in a FormHost: the bridge a renderer talks to.
class Form1Host : public FormHost {
public:
    void Opened(FormView& view) override;
    void Clicked(ControlId id) override;
    void CloseBoxClicked() override;
    void Closed() override;
    ~Form1Host() override;

private:
    std::unique_ptr<Form1> form_;
};

} // namespace ui

#include "ui/config_window.h"

#include "app/mode_handlers.h"
#include "common/dprint.h"
#include "settings/app_settings.h"
#include "ui/settings_access.h"

#include <cstdio>
#include <cstdlib>

namespace ui {

void ShowConfigWindowModal() {
    std::string reason;
    if (ShowForm1(true, reason) != WindowOutcome::Closed) {
        CommonModule::DPrint("Form1: configuration window skipped: " + reason);
    }
}

} // namespace ui

namespace modGetExternalIP {

void RunConfigWindow() {
    // Before any window: a user who cannot reach the settings would get an empty form that saves
    // nothing.
    const std::string problem = ui::platform::SettingsAccessProblem(CommonModule::sAppINI);
    if (!problem.empty()) {
        CommonModule::DPrint("Form1: configuration window refused: " + problem);
        std::fprintf(stderr, "addrwatch: %s\n", problem.c_str());
        std::fflush(stderr);
        std::exit(1);
    }
    std::string reason;
    const ui::WindowOutcome outcome = ui::ShowForm1(false, reason);
    if (outcome != ui::WindowOutcome::Closed) {
        // One sentence for the user: there is no window to say it in.
        std::fprintf(stderr,
                     outcome == ui::WindowOutcome::NoDisplay
                         ? "addrwatch: the configuration window needs a graphical display (%s); "
                           "the settings are kept in %s.\n"
                         : "addrwatch: the configuration window cannot be shown (%s); "
                           "the settings are kept in %s.\n",
                     reason.c_str(), CommonModule::sAppINI.c_str());
        std::fflush(stderr);
        std::exit(1);
    }
}

} // namespace modGetExternalIP

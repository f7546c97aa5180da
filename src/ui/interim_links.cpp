// Interim: stand-ins for routines other folders are still building, so the window links. This
// file goes once they are merged.
#include "app/daily_task.h"
#include "common/shell.h"
#include "mail/send_email.h"
#include "monitor/wan_ip.h"

namespace modSendEmail {
bool SendEmail(const std::string&) {
    return false;
}
} // namespace modSendEmail
namespace modGetExternalIP {
std::string GetWanIPDefault() {
    return "Unknown";
}
std::string DeleteTaskParameters(const std::string& t) {
    return "/delete /f /tn \"" + t + "\"";
}
std::string CreateTaskParameters(const std::string& s, const std::string& t, const std::string& e,
                                 bool) {
    return "/create " + s + t + e;
}
void CreateScheduleEntry(const std::string&) {}
void DeleteScheduleEntry() {}
} // namespace modGetExternalIP
namespace CommonModule {
bool ShellX(const std::string&, const std::string&, bool, int) {
    return true;
}
void ShellNoWait(const std::string&, int) {}
WindowEventPump SetWindowEventPump(WindowEventPump) {
    return nullptr;
}
} // namespace CommonModule

#include "health/heartbeat.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "health/outcome_detail.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <cstdio>

namespace health {

namespace {
// The answer lands beside the check page's file, in the program's folder, and goes at once.
constexpr const char* kHeartbeatFile = "heartbeat.tmp";
} // namespace

std::string HeartbeatAddress(CheckResult result) {
    return CommonModule::ReadINI(CommonModule::sAppINI, "General",
                                 IsFailure(result) ? "HeartbeatFailURL" : "HeartbeatURL");
}

platform::DownloadBounds HeartbeatBounds() {
    platform::DownloadBounds bounds;
    bounds.time = std::chrono::seconds(10);
    bounds.bytes = 64 * 1024;
    bounds.secureStaysSecure = true;
    return bounds;
}

void SendHeartbeat(CheckResult result) {
    const std::string address = HeartbeatAddress(result);
    if (address.empty()) {
        return;
    }
    const std::string file = CommonModule::AppPath() + kHeartbeatFile;
    const platform::DownloadResult answer =
        platform::DownloadPageToFile(address, file, HeartbeatBounds());
    std::remove(file.c_str());
    if (!answer.complete || answer.status >= 400) {
        CommonModule::DPrint("health\\Heartbeat: the heartbeat to " + PageHost(address) +
                             " failed: " + platform::DescribeDownload(answer));
    }
}

} // namespace health

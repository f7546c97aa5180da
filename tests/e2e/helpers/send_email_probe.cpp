// Test-only: SendEmail for one address with the settings file beside this program.
// Usage: send_email_probe <address> [timeout in milliseconds]. Prints "True" or "False".
#include "mail/send_email.h"
#include "settings/app_settings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: send_email_probe <address> [timeout-ms]\n", stderr);
        return 2;
    }
    bool setIni = true;
    bool iniInAppPath = true;
    CommonModule::InitAppSettings(setIni, iniInAppPath);
    const std::chrono::milliseconds timeout =
        argc > 2 ? std::chrono::milliseconds(std::strtol(argv[2], nullptr, 10))
                 : modSendEmail::kConnectionTimeout;
    const bool sent = modSendEmail::SendEmail(argv[1], timeout);
    std::puts(sent ? "True" : "False");
    std::fflush(stdout);
    return 0;
}

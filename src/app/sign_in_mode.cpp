// addrwatch /signin: the sign-in for machines without a display. The device grant shows its
// address and code in the terminal; the authorization-code flow prints the address to open
// and takes back, pasted, the address the browser was sent to.
#include "app/mode_handlers.h"

#include "app/single_instance.h"
#include "app/terminal.h"
#include "oauth/oauth.h"

namespace modGetExternalIP {

int SignInFromTerminal() {
    const Outcome<oauth::OAuthSettings> settings = oauth::LoadOAuthSettings();
    if (!settings) {
        platform::WriteTerminalLine(settings.error().description);
        return 2;
    }
    if (settings.value().provider == oauth::Provider::None) {
        platform::WriteTerminalLine("OAuthProvider is not set in section EmailConfig");
        return 2;
    }
    // A check run renewing at the same moment could store its rotation of the old token over
    // the new one.
    const SingleInstance guard;
    if (!guard.Acquired()) {
        platform::WriteTerminalLine("A check run is in progress; sign in again once it is done");
        return 1;
    }
    oauth::SignInEvents events;
    events.openBrowser = false;
    events.prompt = [](const oauth::SignInPrompt& prompt) {
        if (!prompt.userCode.empty()) {
            platform::WriteTerminalLine("To sign in, open " + prompt.verificationUri +
                                        " in a browser and enter the code " + prompt.userCode);
        } else {
            platform::WriteTerminalLine("To sign in, open this address in a browser:");
            platform::WriteTerminalLine(prompt.authorizationUrl);
            platform::WriteTerminalLine("Then paste here the address the browser was sent to "
                                        "(it begins with http://127.0.0.1/):");
        }
    };
    if (settings.value().provider == oauth::Provider::Google) {
        events.readRedirect = [] { return platform::ReadTerminalLine(); };
    }
    const oauth::SignInResult result = oauth::SignIn(settings.value(), events);
    platform::WriteTerminalLine(result.message);
    switch (result.status) {
    case oauth::SignInStatus::SignedIn:
        return 0;
    case oauth::SignInStatus::SettingsError:
        return 2;
    default:
        return 1;
    }
}

} // namespace modGetExternalIP

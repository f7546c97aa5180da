// The mail that says the checks keep failing: to the notice's recipients, subject + " - IP
// Check Failing", saying since when no address could be found and why.
#pragma once

#include "common/vb_error.h"
#include "mail/message.h"

#include <string>

namespace health {

inline constexpr const char* kAlertSubjectTail = " - IP Check Failing";

// The alert as composed from the loaded settings; failingSinceUtc and detail as recorded.
modSendEmail::NotificationMessage ComposeFailureAlert(const modSendEmail::EmailSettingsRecord& s,
                                                      const std::string& failingSinceUtc,
                                                      const std::string& detail);

// Sends it; true when the server accepted it. A refusal is logged as the notice's is.
bool SendFailureAlert(const std::string& failingSinceUtc, const std::string& detail);

} // namespace health

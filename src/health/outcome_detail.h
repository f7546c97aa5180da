// The fixed table of detail lines a check run's outcome is recorded with. Every line is built
// here, from the run's own facts and sanitised server text, so no stored line can hold a
// password, a page's path (a monitor's id may be in it) or a control character.
#pragma once

#include "common/vb_error.h"
#include "health/check_outcome.h"
#include "monitor/wan_ip.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace health {

inline constexpr std::size_t kMaxDetailLength = 200;

// Printable ASCII only (anything else becomes "?", a run of line breaks one blank), blanks
// around it dropped, at most kMaxDetailLength characters ("..." ends a cut line).
std::string SanitiseDetail(std::string_view text);

// "address 203.0.113.7, unchanged"
CheckOutcome Unchanged(std::string_view address);
// "notice for 203.0.113.8 accepted"
CheckOutcome Notified(std::string_view address);
// Why the notice did not go out, from SendEmail's failure: "the mail server refused the logon:
// 535 5.7.8 ...". A failure numbered 0 stands for settings that are not complete.
CheckOutcome NotifyFailed(const VbError& failure);
// "no check page gave an address: <page host>: <reason>; ..."; with no page named, the lookup
// ended in the answer "Unknown".
CheckOutcome LookupFailed(const std::vector<modGetExternalIP::FailedPage>& failed);

// The host of a page address, or "(not an http address)"; never its path or query.
std::string PageHost(std::string_view page);

} // namespace health

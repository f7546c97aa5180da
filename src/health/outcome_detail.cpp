#include "health/outcome_detail.h"

#include "mail/smtp_transport.h"
#include "monitor/http_url.h"

namespace health {

std::string_view ResultText(CheckResult result) {
    switch (result) {
    case CheckResult::Unchanged:
        return "unchanged";
    case CheckResult::Notified:
        return "notified";
    case CheckResult::NotifyFailed:
        return "notify-failed";
    case CheckResult::LookupFailed:
        return "lookup-failed";
    }
    return "unchanged";
}

std::string SanitiseDetail(std::string_view text) {
    std::string line;
    bool lineBreak = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            lineBreak = true;
            continue;
        }
        if (lineBreak) {
            line += ' ';
            lineBreak = false;
        }
        const auto byte = static_cast<unsigned char>(c);
        line += byte >= 0x20 && byte < 0x7f ? c : '?';
    }
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    line = line.substr(first, line.find_last_not_of(' ') + 1 - first);
    if (line.size() > kMaxDetailLength) {
        line.resize(kMaxDetailLength - 3);
        line += "...";
    }
    return line;
}

namespace {

CheckOutcome Make(CheckResult result, std::string_view text) {
    return {result, SanitiseDetail(text)};
}

// The server's own words of a refusal, as the SMTP client puts them into its description; the
// whole description when it quotes no reply.
std::string ServerWords(const std::string& description) {
    constexpr std::string_view kQuote = "The server response was: ";
    const auto at = description.find(kQuote);
    return at == std::string::npos ? description : description.substr(at + kQuote.size());
}

std::string_view MailFailurePhrase(long number) {
    namespace e = modSendEmail::smtp_errors;
    switch (number) {
    case e::kLogonFailed:
        return "the mail server refused the logon";
    case e::kSenderRejected:
        return "the mail server refused the sender";
    case e::kRecipientsRejected:
        return "the mail server refused the recipients";
    case e::kConnectFailed:
        return "cannot reach the mail server";
    case e::kTimedOut:
        return "the mail server did not answer in time";
    case e::kConnectionLost:
        return "the mail server closed the connection";
    case e::kSecureChannelFailed:
        return "no secure connection to the mail server";
    case e::kSendFailed:
        return "the mail server refused the notice";
    default:
        return "the notice was not sent";
    }
}

} // namespace

CheckOutcome Unchanged(std::string_view address) {
    return Make(CheckResult::Unchanged, "address " + std::string(address) + ", unchanged");
}

CheckOutcome Notified(std::string_view address) {
    return Make(CheckResult::Notified, "notice for " + std::string(address) + " accepted");
}

CheckOutcome NotifyFailed(const VbError& failure) {
    if (failure.number == 0) {
        return Make(CheckResult::NotifyFailed,
                    "the mail settings are not complete (server, port, sender, recipient)");
    }
    return Make(CheckResult::NotifyFailed, std::string(MailFailurePhrase(failure.number)) + ": " +
                                               ServerWords(failure.description));
}

std::string PageHost(std::string_view page) {
    const auto url = http::ParseUrl(page);
    return url ? url->host : std::string("(not an http address)");
}

CheckOutcome LookupFailed(const std::vector<modGetExternalIP::FailedPage>& failed) {
    std::string text = "no check page gave an address";
    if (failed.empty()) {
        text += ": the answer was \"Unknown\"";
    }
    for (std::size_t i = 0; i < failed.size(); ++i) {
        text += (i == 0 ? ": " : "; ") + PageHost(failed[i].page) + ": " + failed[i].reason;
    }
    return Make(CheckResult::LookupFailed, text);
}

} // namespace health

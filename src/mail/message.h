// The notification message: its four texts, and how they are put on the wire safely.
//
// Everything here is pure text work, testable anywhere. The wire rules: every line ends in CRLF,
// no line exceeds 998 octets, a line starting with "." is dot-stuffed, and a CR or LF inside a
// header value never starts a new header line (or, through the envelope, a new SMTP command).
#pragma once

#include "mail/send_email.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modSendEmail {

// To, From, Subject and body of one notification.
struct NotificationMessage {
    std::string To;
    std::string From;
    std::string Subject;
    std::string TextBody;
};

// "\r\n\r\nThis message sent by Quillfen - " + the version text.
std::string MessageFooter();

// The message for the new address sNewIP from the loaded settings.
NotificationMessage ComposeMessage(const EmailSettingsRecord& settings, const std::string& sNewIP);

// The message whose body is sLines (CRLF between lines, none after them) and the footer.
NotificationMessage ComposeNotice(const EmailSettingsRecord& settings, const std::string& sLines);

// VB's CInt of a settings value: blanks around it allowed, decimals rounded half to even,
// "&H" / "&O" prefixes understood. Error 13 when it is not a number, 6 when outside 16 bits.
Outcome<int> ConvertToInteger16(std::string_view value);

// The envelope addresses of an address list: split at commas and semicolons outside quotes and
// angle brackets; "Name <a@b>" gives a@b; empty entries are skipped.
std::vector<std::string> SplitAddresses(std::string_view list);

// True when the address can go between "<" and ">" of an SMTP command as it is.
bool IsSafeEnvelopeAddress(std::string_view address);

// The value with every run of CR and LF replaced by one blank.
std::string SanitizeHeaderValue(std::string_view value);

// Lone CR, lone LF and CRLF all become CRLF; the result ends in CRLF unless it is empty.
std::string NormalizeLineEndings(std::string_view text);

// Doubles the "." that starts any line of CRLF-terminated text.
std::string DotStuff(std::string_view text);

// The body as it is sent and the transfer encoding that keeps it within the line limit:
// "7bit" for short lines of printable ASCII, else quoted-printable. CRLF line ends.
struct EncodedBody {
    std::string encoding;
    std::string text;
};
EncodedBody EncodeBody(std::string_view body);

// The Subject header value: as it is (CR/LF removed) when printable ASCII, else RFC 2047
// encoded-words in charset, folded so no line exceeds the limit.
std::string EncodeSubject(std::string_view subject, std::string_view charset);

// The whole DATA payload, headers and body, CRLF line ends, before dot-stuffing.
struct WireInputs {
    std::string charset;   // the declared character set of the text
    std::tm dateUtc{};     // the Date header's time, in UTC
    std::string messageId; // without angle brackets
};
std::string BuildMessageData(const NotificationMessage& message, const WireInputs& inputs);

std::string Base64Encode(std::string_view bytes);
// The two alphabets of RFC 4648: they differ only in the characters for 62 and 63.
enum class Base64Alphabet { Standard, Url };
// The bytes of base64 text in the alphabet (padding optional); no value when it holds anything
// else or has an impossible length.
std::optional<std::string> Base64Decode(std::string_view text,
                                        Base64Alphabet alphabet = Base64Alphabet::Standard);

// Server text fit for the log: control and non-ASCII bytes become "?", lines are joined by a
// blank, and the result is cut to a sane length.
std::string SanitizeServerText(std::string_view text);

} // namespace modSendEmail

namespace platform {
// The character set of the program's 8-bit text ("windows-1252" for that ANSI code page,
// "UTF-8" on POSIX).
std::string MailCharset();
} // namespace platform

#include "mail/message.h"

#include "common/text.h"
#include "product_version.h"
#include "settings/app_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace modSendEmail {

namespace {

constexpr std::string_view kSubjectTail = " - IP Change Notification";
constexpr std::string_view kBodyHead = "New WAN IP Detected:  ";
// RFC 5321/5322: 998 octets plus CRLF. Quoted-printable lines stay at 76 anyway.
constexpr std::size_t kMaxLine = 998;
constexpr std::size_t kMaxServerText = 300;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsPrintableAscii(unsigned char c) {
    return c >= 0x20 && c < 0x7f;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// "&H..." or "&O...": the digits give a 16-bit pattern, so &HFFFF is -1 as in VB.
Outcome<int> ConvertRadix(std::string_view digits, int radix) {
    if (digits.empty()) {
        return vb_errors::TypeMismatch();
    }
    std::uint32_t v = 0;
    for (char c : digits) {
        const int d = text::HexDigitValue(c);
        if (d < 0 || d >= radix) {
            return vb_errors::TypeMismatch();
        }
        v = v * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(d);
        if (v > 0xffff) {
            return vb_errors::Overflow();
        }
    }
    return static_cast<int>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
}

std::string EnvelopeAddress(std::string_view entry) {
    // The last "<...>" outside quotes is the address; without one the entry is the address.
    bool quoted = false;
    std::size_t open = std::string_view::npos, close = std::string_view::npos;
    for (std::size_t i = 0; i < entry.size(); ++i) {
        const char c = entry[i];
        if (c == '"' && (i == 0 || entry[i - 1] != '\\')) {
            quoted = !quoted;
        } else if (!quoted && c == '<') {
            open = i;
            close = std::string_view::npos;
        } else if (!quoted && c == '>' && open != std::string_view::npos) {
            close = i;
        }
    }
    if (open != std::string_view::npos && close != std::string_view::npos) {
        return std::string(TrimBlanks(entry.substr(open + 1, close - open - 1)));
    }
    return std::string(TrimBlanks(entry));
}

// "Name: value" CRLF, folded at blanks (or, failing one, anywhere) to stay within the limit.
std::string HeaderLine(std::string_view name, std::string_view value) {
    std::string line = std::string(name) + ": " + std::string(value);
    std::string out;
    constexpr std::size_t kLimit = kMaxLine - 8; // room for the continuation's blank
    std::size_t start = 0;
    while (line.size() - start > kLimit) {
        std::size_t cut = line.rfind(' ', start + kLimit);
        if (cut == std::string::npos || cut <= start) {
            cut = start + kLimit;
        }
        out += line.substr(start, cut - start) + "\r\n ";
        start = line[cut] == ' ' ? cut + 1 : cut;
    }
    return out + line.substr(start) + "\r\n";
}

} // namespace

std::string Base64Encode(std::string_view in) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const auto n = (std::uint32_t(std::uint8_t(in[i])) << 16) |
                       (std::uint32_t(std::uint8_t(in[i + 1])) << 8) | std::uint8_t(in[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i < in.size()) {
        std::uint32_t n = std::uint32_t(std::uint8_t(in[i])) << 16;
        if (i + 1 < in.size()) {
            n |= std::uint32_t(std::uint8_t(in[i + 1])) << 8;
        }
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text, Base64Alphabet alphabet) {
    const char c62 = alphabet == Base64Alphabet::Url ? '-' : '+';
    const char c63 = alphabet == Base64Alphabet::Url ? '_' : '/';
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == c62 || c == c63) {
            v = c == c62 ? 62 : 63;
        } else {
            return std::nullopt;
        }
        bits = (bits << 6) | std::uint32_t(v);
        if (++count == 4) {
            out += char((bits >> 16) & 0xff);
            out += char((bits >> 8) & 0xff);
            out += char(bits & 0xff);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out += char((bits >> 4) & 0xff);
    } else if (count == 3) {
        out += char((bits >> 10) & 0xff);
        out += char((bits >> 2) & 0xff);
    }
    return out;
}

std::string MessageFooter() {
    return std::string("\r\n\r\nThis message sent by ") + product::kMaker + " - " +
           CommonModule::AppVersionText("", "");
}

NotificationMessage ComposeMessage(const EmailSettingsRecord& settings, const std::string& sNewIP) {
    NotificationMessage m;
    m.To = settings.ToEmail;
    m.From = settings.FromEmail;
    m.Subject = settings.Subject + std::string(kSubjectTail);
    m.TextBody = std::string(kBodyHead) + sNewIP + MessageFooter();
    return m;
}

NotificationMessage ComposeNotice(const EmailSettingsRecord& settings, const std::string& sLines) {
    NotificationMessage m = ComposeMessage(settings, std::string());
    m.TextBody = sLines + MessageFooter();
    return m;
}

Outcome<int> ConvertToInteger16(std::string_view value) {
    std::string_view s = TrimBlanks(value);
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
        return ConvertRadix(s.substr(2), 16);
    }
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o')) {
        return ConvertRadix(s.substr(2), 8);
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    // Digits are accumulated by hand: strtod would follow a locale's decimal separator.
    double v = 0;
    int digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
        v = v * 10 + (s[i] - '0');
    }
    if (i < s.size() && s[i] == '.') {
        double scale = 0.1;
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
            v += (s[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (digits == 0) {
        return vb_errors::TypeMismatch();
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negativeExponent = s[i] == '-';
            ++i;
        }
        int exponent = 0, exponentDigits = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++exponentDigits) {
            exponent = exponent < 1000 ? exponent * 10 + (s[i] - '0') : exponent;
        }
        if (exponentDigits == 0) {
            return vb_errors::TypeMismatch();
        }
        v *= std::pow(10.0, negativeExponent ? -exponent : exponent);
    }
    if (i != s.size()) {
        return vb_errors::TypeMismatch();
    }
    if (negative) {
        v = -v;
    }
    const double rounded = std::nearbyint(v); // half to even, as CInt rounds
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) {
        return vb_errors::Overflow();
    }
    return static_cast<int>(rounded);
}

std::vector<std::string> SplitAddresses(std::string_view list) {
    std::vector<std::string> out;
    bool quoted = false;
    bool angled = false;
    std::size_t start = 0;
    auto take = [&](std::size_t end) {
        std::string a = EnvelopeAddress(list.substr(start, end - start));
        if (!a.empty()) {
            out.push_back(std::move(a));
        }
        start = end + 1;
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '"' && (i == 0 || list[i - 1] != '\\')) {
            quoted = !quoted;
        } else if (!quoted && c == '<') {
            angled = true;
        } else if (!quoted && c == '>') {
            angled = false;
        } else if (!quoted && !angled && (c == ',' || c == ';')) {
            take(i);
        }
    }
    take(list.size());
    return out;
}

bool IsSafeEnvelopeAddress(std::string_view address) {
    if (address.empty() || address.size() > 254) {
        return false;
    }
    for (unsigned char c : address) {
        if (c <= 0x20 || c == 0x7f || c == '<' || c == '>') {
            return false;
        }
    }
    return true;
}

std::string SanitizeHeaderValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            while (i + 1 < value.size() && (value[i + 1] == '\r' || value[i + 1] == '\n')) {
                ++i;
            }
            out += ' ';
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string NormalizeLineEndings(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) {
        out += "\r\n";
    }
    return out;
}

std::string DotStuff(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') {
            out += '.';
        }
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

EncodedBody EncodeBody(std::string_view body) {
    const std::string text = NormalizeLineEndings(body);
    bool plain = true;
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < text.size() && plain; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            lineLength = 0;
            continue;
        }
        plain = (IsPrintableAscii(c) || c == '\t') && ++lineLength <= kMaxLine;
    }
    if (plain) {
        return {"7bit", text};
    }
    // Quoted-printable (RFC 2045 6.7): lines of at most 76 characters, soft breaks with "=",
    // blanks before a line end encoded.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t column = 0;
    auto emit = [&](std::string_view piece) {
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        const bool atLineEnd = i + 1 >= text.size() || text[i + 1] == '\r';
        if ((IsPrintableAscii(c) && c != '=' && !(IsBlank(char(c)) && atLineEnd)) ||
            (c == '\t' && !atLineEnd)) {
            const char one[1] = {char(c)};
            emit(std::string_view(one, 1));
        } else {
            const char three[3] = {'=', kHex[c >> 4], kHex[c & 15]};
            emit(std::string_view(three, 3));
        }
    }
    return {"quoted-printable", out};
}

std::string EncodeSubject(std::string_view subject, std::string_view charset) {
    const std::string clean = SanitizeHeaderValue(subject);
    bool plain = clean.size() <= 900;
    for (unsigned char c : clean) {
        plain = plain && (IsPrintableAscii(c) || c == '\t');
    }
    if (plain) {
        return clean;
    }
    // Encoded words, one per folded line; UTF-8 chunks end on a character boundary.
    const bool utf8 = charset == "UTF-8";
    // An encoded word is at most 75 characters: "=?" charset "?B?" base64 "?=".
    const std::size_t room = charset.size() + 7 < 75 ? 75 - (charset.size() + 7) : 4;
    const std::size_t chunk = std::max<std::size_t>(1, room / 4 * 3);
    std::string out;
    std::size_t i = 0;
    while (i < clean.size()) {
        std::size_t n = std::min<std::size_t>(chunk, clean.size() - i);
        if (utf8) {
            while (n > 1 && i + n < clean.size() &&
                   (static_cast<unsigned char>(clean[i + n]) & 0xC0) == 0x80) {
                --n;
            }
        }
        if (!out.empty()) {
            out += "\r\n ";
        }
        out += "=?" + std::string(charset) + "?B?" +
               Base64Encode(std::string_view(clean).substr(i, n)) + "?=";
        i += n;
    }
    return out;
}

std::string BuildMessageData(const NotificationMessage& message, const WireInputs& inputs) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm& t = inputs.dateUtc;
    char date[64];
    std::snprintf(date, sizeof date, "%s, %d %s %04d %02d:%02d:%02d +0000",
                  kDays[((t.tm_wday % 7) + 7) % 7], t.tm_mday, kMonths[((t.tm_mon % 12) + 12) % 12],
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    const EncodedBody body = EncodeBody(message.TextBody);
    std::string data;
    data += "Date: " + std::string(date) + "\r\n";
    data += HeaderLine("From", SanitizeHeaderValue(message.From));
    data += HeaderLine("To", SanitizeHeaderValue(message.To));
    data += "Subject: " + EncodeSubject(message.Subject, inputs.charset) + "\r\n";
    data += "Message-ID: <" + SanitizeHeaderValue(inputs.messageId) + ">\r\n";
    data += "MIME-Version: 1.0\r\n";
    data += "Content-Type: text/plain; charset=" + inputs.charset + "\r\n";
    data += "Content-Transfer-Encoding: " + body.encoding + "\r\n";
    data += "\r\n";
    data += body.text;
    return data;
}

std::string SanitizeServerText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kMaxServerText; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += IsPrintableAscii(c) ? char(c) : '?';
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (out.size() >= kMaxServerText) {
        out += "...";
    }
    return out;
}

} // namespace modSendEmail

// modBase85: the stored form of the SMTP password and the Ascii85 codec beneath it.
//
// The codec is the Adobe flavour without line wrapping: "z" for a whole zero group, "~>" at the
// end, "<~" accepted (and optionally written) at the start. Every routine is a pure function.
#include "settings/base85.h"

#include <cstddef>

namespace modBase85 {

namespace {

constexpr std::uint8_t kFirstDigit = '!'; // digit value 0; "u" is 84
constexpr std::uint8_t kLastDigit = 'u';

// Exclusive-or with the key, repeating from its first character. Its own inverse.
std::string Scramble(std::string_view text, std::string_view key) {
    std::string out(text);
    if (key.empty()) {
        return out;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^
                                   static_cast<unsigned char>(key[i % key.size()]));
    }
    return out;
}

std::vector<std::uint8_t> BytesOf(std::string_view s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

std::string TextOf(const std::vector<std::uint8_t>& b) {
    return std::string(b.begin(), b.end());
}

bool IsDigit(std::uint8_t c) {
    return c >= kFirstDigit && c <= kLastDigit;
}

void PutBytes(std::uint32_t value, std::vector<std::uint8_t>& output, std::size_t position,
              std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        output[position + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

} // namespace

std::string EncryptText(std::string_view text, std::string_view key) {
    std::string framed;
    framed.reserve(text.size() + 2);
    framed += 'a';
    framed += text;
    framed += 'a';
    return Ascii85EncodeText(Scramble(framed, key), false);
}

Outcome<std::string> DecryptText(std::string_view stored, std::string_view key) {
    const std::string plain = Scramble(Ascii85DecodeText(stored), key);
    if (plain.size() < 2) {
        return vb_errors::InvalidArgument();
    }
    return plain.substr(1, plain.size() - 2);
}

std::string Ascii85EncodeText(std::string_view text, bool startMarker) {
    if (text.empty()) {
        return startMarker ? "<~~>" : "~>";
    }
    // One 8-bit code per character reaches the codec: the bytes of the text, read with stride 1.
    std::vector<std::uint8_t> output;
    if (!Ascii85EncodeBytes(BytesOf(text), output, startMarker)) {
        return {};
    }
    return TextOf(output);
}

std::string Ascii85DecodeText(std::string_view encoded) {
    std::vector<std::uint8_t> output;
    if (!Ascii85DecodeBytes(BytesOf(encoded), output)) {
        return {};
    }
    return TextOf(output);
}

void EncodeGroup(std::uint32_t& value, std::vector<std::uint8_t>& output, std::size_t& position,
                 bool partialGroup) {
    if (value == 0 && !partialGroup) {
        if (output.size() < position + 1) {
            output.resize(position + 1);
        }
        output[position++] = 'z';
        return;
    }
    if (output.size() < position + 5) {
        output.resize(position + 5);
    }
    for (std::size_t i = 5; i-- > 0;) {
        output[position + i] = static_cast<std::uint8_t>(kFirstDigit + value % 85);
        value /= 85;
    }
    position += 5;
}

bool Ascii85EncodeBytes(const std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& output,
                        bool startMarker, std::size_t stride) {
    output.clear();
    if (stride == 0) {
        return false;
    }
    const std::size_t count = (source.size() + stride - 1) / stride;
    auto at = [&](std::size_t i) { return source[i * stride]; };

    // Worst case: every group five digits, plus both markers.
    output.resize((count / 4 + 1) * 5 + 4);
    std::size_t position = 0;
    if (startMarker) {
        output[position++] = '<';
        output[position++] = '~';
    }
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        std::uint32_t value = (std::uint32_t{at(i)} << 24) | (std::uint32_t{at(i + 1)} << 16) |
                              (std::uint32_t{at(i + 2)} << 8) | std::uint32_t{at(i + 3)};
        EncodeGroup(value, output, position, false);
    }
    const std::size_t rest = count - i;
    if (rest > 0) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < rest; ++k) {
            value |= std::uint32_t{at(i + k)} << (24 - 8 * k);
        }
        EncodeGroup(value, output, position, true);
        position -= 5 - (rest + 1);
    }
    output[position++] = '~';
    output[position++] = '>';
    output.resize(position);
    return true;
}

bool Ascii85DecodeBytes(const std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& output,
                        std::size_t stride) {
    output.clear();
    if (stride == 0) {
        return false;
    }
    const std::size_t count = (source.size() + stride - 1) / stride;
    auto at = [&](std::size_t i) { return source[i * stride]; };

    // Only the two characters "<~" start the data with a marker: a lone "<" is the digit 27,
    // and every stored password begins with one.
    std::size_t start = 0;
    if (count >= 2 && at(0) == '<' && at(1) == '~') {
        start = 2;
    }

    // First pass: check the characters, count the digits and find the end marker.
    std::size_t digits = 0;
    std::size_t end = 0;
    bool terminated = false;
    for (std::size_t i = start; i < count; ++i) {
        const std::uint8_t c = at(i);
        if (IsDigit(c)) {
            ++digits;
        } else if (c == 'z') {
            if (digits % 5 != 0) {
                return false;
            }
            digits += 5;
        } else if (c == '~') {
            if (i + 1 >= count || at(i + 1) != '>') {
                return false;
            }
            end = i;
            terminated = true;
            break;
        } else if (c >= kFirstDigit) {
            return false;
        }
    }
    if (!terminated) {
        return false;
    }

    const std::size_t tail = digits % 5;
    output.assign(digits / 5 * 4 + (tail == 0 ? 0 : tail - 1), 0);

    // Second pass: the groups. Values above 2^32 - 1 wrap around rather than fail.
    std::uint64_t accumulator = 0;
    std::size_t inGroup = 0;
    std::size_t position = 0;
    for (std::size_t i = start; i < end; ++i) {
        const std::uint8_t c = at(i);
        if (IsDigit(c)) {
            accumulator = accumulator * 85 + (c - kFirstDigit);
            if (++inGroup == 5) {
                PutBytes(static_cast<std::uint32_t>(accumulator), output, position, 4);
                position += 4;
                accumulator = 0;
                inGroup = 0;
            }
        } else if (c == 'z') {
            position += 4;
        }
    }
    if (inGroup >= 2) {
        for (std::size_t k = inGroup; k < 5; ++k) {
            accumulator = accumulator * 85 + (kLastDigit - kFirstDigit);
        }
        PutBytes(static_cast<std::uint32_t>(accumulator), output, position, inGroup - 1);
    }
    return true;
}

} // namespace modBase85

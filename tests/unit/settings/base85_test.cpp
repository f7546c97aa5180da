#include "settings/base85.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace modBase85;

namespace {

struct CodecVector {
    const char* bytes;
    std::size_t length;
    const char* encoded;
};
struct PasswordVector {
    const char* password;
    const char* stored;
};

#include "settings/base85_vectors.inc"

const CodecVector kCodecVectors[] = {BASE85_CODEC_VECTORS};
const PasswordVector kPasswordVectors[] = {BASE85_PASSWORD_VECTORS};

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

} // namespace

TEST(Ascii85, EncodesTheKnownForms) {
    struct Case {
        std::string text;
        bool marker;
        std::string encoded;
    } cases[] = {
        {"ABC", false, "5sdp~>"},
        {"ABC", true, "<~5sdp~>"},
        {"test", false, "FCfN8~>"},
        {std::string(4, '\0'), false, "z~>"},
        {std::string(3, '\0'), false, "!!!!~>"}, // a partial group never folds to "z"
        {std::string(8, '\0') + "A", false, "zz5l~>"},
        {"", false, "~>"},
        {"", true, "<~~>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoded);
        EXPECT_EQ(Ascii85EncodeText(c.text, c.marker), c.encoded);
        EXPECT_EQ(Ascii85DecodeText(c.encoded), c.text);
    }
}

TEST(Ascii85, DecoderAcceptsMarkersBlanksAndTrailingText) {
    const std::pair<std::string, std::string> cases[] = {
        {"<~5sdp~>", "ABC"},
        {"5s d\tp\r\n~>", "ABC"},
        {"5sdp~>anything at all", "ABC"},
        {"\n\nFC fN\n8~>", "test"},
        {"z z~>", std::string(8, '\0')},
        {"5~>", ""}, // a lone final digit yields no byte
        // Only "<~" is a marker; a "<" before anything else is the digit 27.
        {"<5sdp~>", "\x54\xc6\x89\xff"},
        // 85^5 - 1 does not fit 32 bits and wraps around.
        {"uuuuu~>", "\x08\x78\x0e\xc4"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        std::vector<std::uint8_t> out;
        EXPECT_TRUE(Ascii85DecodeBytes(Bytes(input), out));
        EXPECT_EQ(Ascii85DecodeText(input), expected);
    }
}

TEST(Ascii85, DecoderRejectsMalformedInput) {
    const std::string cases[] = {
        "5z~>", // "z" inside a group
        "5sdpv~>",   "5sdpw~>", "5sdpx~>",    "5sdpy~>",    "5sdp{~>",
        "5sdp|~>",   "5sdp}~>", "5sdp\x7f~>", "5sdp\xe9~>",
        "5sdp~",   // "~" at the end
        "5sdp~x>", // "~" not followed by ">"
        "5sdp",    // no end marker
        "",          "<~5sdp",
        " <~5sdp~>", // the marker counts only at the very start
    };
    for (const auto& input : cases) {
        SCOPED_TRACE(input);
        std::vector<std::uint8_t> out{1, 2, 3};
        EXPECT_FALSE(Ascii85DecodeBytes(Bytes(input), out));
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(Ascii85DecodeText(input), "");
    }
}

TEST(Ascii85, AgreesWithAnIndependentEncoder) {
    for (const auto& v : kCodecVectors) {
        const std::string bytes(v.bytes, v.length);
        SCOPED_TRACE(v.encoded);
        EXPECT_EQ(Ascii85EncodeText(bytes, false), v.encoded);
        EXPECT_EQ(Ascii85DecodeText(v.encoded), bytes);
    }
}

TEST(Ascii85, RoundTripsRandomBytesAtEveryStride) {
    std::mt19937 rng(4726150);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> data(rng() % 50);
        for (auto& b : data) {
            b = rng() % 3 == 0 ? 0 : static_cast<std::uint8_t>(rng());
        }
        const std::size_t stride = 1 + rng() % 3;
        // The codec sees positions 0, s, 2s...: spread the data out with filler between.
        std::vector<std::uint8_t> spread;
        for (std::size_t i = 0; i < data.size(); ++i) {
            spread.push_back(data[i]);
            if (i + 1 < data.size()) {
                spread.insert(spread.end(), stride - 1, 0xAB);
            }
        }
        std::vector<std::uint8_t> encoded, spreadEncoded, decoded;
        ASSERT_TRUE(Ascii85EncodeBytes(data, encoded, round % 2 == 0));
        ASSERT_TRUE(Ascii85EncodeBytes(spread, spreadEncoded, round % 2 == 0, stride));
        EXPECT_EQ(encoded, spreadEncoded);
        ASSERT_TRUE(Ascii85DecodeBytes(encoded, decoded));
        EXPECT_EQ(decoded, data);
    }
}

TEST(Ascii85, EncodeGroupWritesOneOrFiveCharacters) {
    std::vector<std::uint8_t> out;
    std::size_t position = 0;
    std::uint32_t value = 0;
    EncodeGroup(value, out, position, false);
    value = 0;
    EncodeGroup(value, out, position, true);
    value = 0x41424344; // "ABCD"
    EncodeGroup(value, out, position, false);
    EXPECT_EQ(position, 11u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 11), "z!!!!!5sdq,");
}

TEST(Password, StoredFormsMatchAnIndependentImplementation) {
    for (const auto& v : kPasswordVectors) {
        SCOPED_TRACE(v.password);
        const std::string stored = EncryptText(v.password, kPasswordKey);
        EXPECT_EQ(stored, v.stored);
        // The first scrambled byte is always 0x55, whose first digit is "<".
        EXPECT_EQ(stored.front(), '<');
        auto plain = DecryptText(stored, kPasswordKey);
        ASSERT_TRUE(plain.ok());
        EXPECT_EQ(plain.value(), v.password);
    }
}

TEST(Password, EmptyPasswordIsThreeDigitsAndTheEndMarker) {
    const std::string stored = EncryptText("", kPasswordKey);
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored.substr(3), "~>");
    for (char c : stored.substr(0, 3)) {
        EXPECT_TRUE(c >= '!' && c <= 'u') << c;
    }
    auto plain = DecryptText(stored, kPasswordKey);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value(), "");
}

TEST(Password, RepeatedKeyDigitsScrambleToZeroGroupsAndRoundTrip) {
    // "a" + key shifted by one position lines the key up with itself: whole zero groups.
    const std::string password = "726150"
                                 "4726150"
                                 "47261";
    const std::string stored = EncryptText(password, kPasswordKey);
    EXPECT_NE(stored.find('z'), std::string::npos) << stored;
    auto plain = DecryptText(stored, kPasswordKey);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value(), password);
}

TEST(Password, ValuesThatAreNotEncodingsFailToDecrypt) {
    for (const std::string stored : {"", "hunter2", "<~~>", "5~>", "5sdpv~>"}) {
        SCOPED_TRACE(stored);
        auto plain = DecryptText(stored, kPasswordKey);
        ASSERT_FALSE(plain.ok());
        EXPECT_EQ(plain.error().number, 5);
    }
}

TEST(Password, AnotherKeyGivesAnotherTextNotAnError) {
    auto plain = DecryptText(EncryptText("secret", kPasswordKey), "1234567");
    ASSERT_TRUE(plain.ok());
    EXPECT_NE(plain.value(), "secret");
    EXPECT_EQ(plain.value().size(), 6u);
}

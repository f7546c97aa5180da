// The provider's answers as the flows read them: every field checked for presence and type.
#include "oauth/answers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace oauth;

TEST(TokenAnswer, TokensErrorsAndMalformedAnswers) {
    struct Case {
        const char* json;
        bool valid;
        const char* error;
        const char* access;
        const char* refresh;
    };
    const Case cases[] = {
        {R"({"access_token":"A","token_type":"Bearer","refresh_token":"R","expires_in":3600})",
         true, "", "A", "R"},
        // Lower-case type, no rotation, unknown members ignored.
        {R"({"access_token":"A","token_type":"bearer","ext":{"x":[1]}})", true, "", "A", ""},
        {R"({"error":"invalid_grant","error_description":"revoked"})", true, "invalid_grant", "",
         ""},
        {R"({"error":"slow_down"})", true, "slow_down", "", ""},
        // Wrong types, missing or empty members, other token types.
        {R"({"error":42})", false, "", "", ""},
        {R"({"error":""})", false, "", "", ""},
        {R"({"access_token":"A"})", false, "", "", ""},
        {R"({"access_token":"A","token_type":"mac"})", false, "", "", ""},
        {R"({"access_token":7,"token_type":"Bearer"})", false, "", "", ""},
        {R"({"access_token":"","token_type":"Bearer"})", false, "", "", ""},
        {R"({"access_token":"A","token_type":"Bearer","refresh_token":null})", false, "", "", ""},
        {R"({"access_token":"A","token_type":"Bearer","id_token":["x"]})", false, "", "", ""},
        // Not an object, or not JSON at all.
        {R"(["access_token","A"])", false, "", "", ""},
        {R"({"access_token":"A","token_type":"Bearer")", false, "", "", ""},
        {"<html>502</html>", false, "", "", ""},
        {"", false, "", "", ""},
    };
    for (const Case& c : cases) {
        const TokenAnswer a = ParseTokenAnswer(c.json);
        EXPECT_EQ(a.valid, c.valid) << c.json;
        if (a.valid) {
            EXPECT_EQ(a.error, c.error) << c.json;
            EXPECT_EQ(a.accessToken, c.access) << c.json;
            EXPECT_EQ(a.refreshToken, c.refresh) << c.json;
        }
    }
    EXPECT_EQ(ParseTokenAnswer(R"({"error":"access_denied","error_description":"No."})").errorText,
              "No.");
}

TEST(DeviceAnswer, FieldsDefaultsAndMalformedAnswers) {
    const DeviceAnswer full = ParseDeviceAnswer(
        R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":900,"interval":7})");
    ASSERT_TRUE(full.valid);
    EXPECT_EQ(full.deviceCode, "D");
    EXPECT_EQ(full.userCode, "U");
    EXPECT_EQ(full.verificationUri, "https://v");
    EXPECT_EQ(full.expiresIn, 900);
    EXPECT_EQ(full.interval, 7);

    // Google's name for the address, seconds as text, the interval's default of 5 s.
    const DeviceAnswer google = ParseDeviceAnswer(
        R"({"device_code":"D","user_code":"U","verification_url":"https://g","expires_in":"1800"})");
    ASSERT_TRUE(google.valid);
    EXPECT_EQ(google.verificationUri, "https://g");
    EXPECT_EQ(google.expiresIn, 1800);
    EXPECT_EQ(google.interval, 5);

    for (
        const char* json : {
            R"({"user_code":"U","verification_uri":"https://v","expires_in":900})",
            R"({"device_code":"D","user_code":5,"verification_uri":"https://v","expires_in":900})",
            R"({"device_code":"D","user_code":"U","verification_uri":7,"verification_url":"https://v","expires_in":9})",
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v"})",
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":-1})",
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":1.5})",
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":9,"interval":0})",
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":"9s"})",
        }) {
        EXPECT_FALSE(ParseDeviceAnswer(json).valid) << json;
    }
    const DeviceAnswer error = ParseDeviceAnswer(R"({"error":"invalid_client"})");
    EXPECT_TRUE(error.valid);
    EXPECT_EQ(error.error, "invalid_client");
}

TEST(IdToken, AccountClaimsInOrderOfPreference) {
    auto token = [](const std::string& claims) {
        return "eyJhbGciOiJub25lIn0." + Base64UrlEncode(claims) + ".sig";
    };
    EXPECT_EQ(AccountOfIdToken(token(R"({"preferred_username":"a@x","email":"b@x"})")), "a@x");
    EXPECT_EQ(AccountOfIdToken(token(R"({"preferred_username":"","email":"b@x"})")), "b@x");
    EXPECT_EQ(AccountOfIdToken(token(R"({"preferred_username":3,"email":"b@x"})")), "b@x");
    EXPECT_EQ(AccountOfIdToken(token(R"({"sub":"123"})")), std::nullopt);
    EXPECT_EQ(AccountOfIdToken(token("not json")), std::nullopt);
    EXPECT_EQ(AccountOfIdToken("no-dots"), std::nullopt);
    EXPECT_EQ(AccountOfIdToken("a.b!d.c"), std::nullopt);
    EXPECT_EQ(AccountOfIdToken(""), std::nullopt);
}

TEST(Base64Url, RoundTripAndAlphabet) {
    const std::string bytes("\xfb\xff\xbf\x00\x01", 5);
    const std::string text = Base64UrlEncode(bytes);
    EXPECT_EQ(text, "-_-_AAE");
    EXPECT_EQ(Base64UrlDecode(text), bytes);
    EXPECT_EQ(Base64UrlDecode("-_-_AAE="), bytes);
    EXPECT_EQ(Base64UrlDecode("+/"), std::nullopt);
    EXPECT_EQ(Base64UrlDecode("abcde"), std::nullopt);
}

} // namespace

// The sign-in and the renewal with the real store and settings file, against scripted answers.
#include "oauth/loopback_listener.h"
#include "oauth/sign_in.h"
#include "oauth/token_store.h"

#include "registry/registry_store.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"
#include "support/environment.h"
#include "support/loopback_http_server.h"
#include "support/temp_folder.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>

namespace {

using namespace oauth;
using testing_support::ScopedEnvironment;
using SystemClock = std::chrono::system_clock;

std::string IdToken(const std::string& claims) {
    return "eyJhbGciOiJub25lIn0." + Base64UrlEncode(claims) + ".sig";
}

class StoredSignIn : public ::testing::Test {
protected:
    void SetUp() override {
        savedIni_ = CommonModule::sAppINI;
        CommonModule::sAppINI = folder_.File("addrwatch.ini");
        Clean();
    }
    void TearDown() override {
        Clean();
        CommonModule::sAppINI = savedIni_;
    }
    static void Clean() {
        testing_support::DeleteRegistryTree(modRegistry::store::kLocalMachine, store::kOAuthKey);
    }
    std::string Setting(const char* key) const {
        return CommonModule::ReadINI(CommonModule::sAppINI, "EmailConfig", key);
    }
    // A transport that answers from the script.
    FlowDeps Scripted() {
        FlowDeps deps;
        deps.post = [this](const std::string&, const std::string& form, const RequestBounds&) {
            forms_.push_back(form);
            HttpAnswer a =
                answers_.empty() ? HttpAnswer{false, 0, {}, "silence"} : answers_.front();
            if (!answers_.empty()) {
                answers_.pop_front();
            }
            return a;
        };
        return deps;
    }
    static SignInEvents NoWaiting() {
        SignInEvents events;
        events.wait = [](std::chrono::milliseconds) { return true; };
        events.openBrowser = false;
        return events;
    }
    static OAuthSettings Generic() {
        OAuthSettings s;
        s.provider = Provider::Generic;
        s.clientId = "c";
        s.deviceUrl = "https://auth/device";
        s.tokenUrl = "https://auth/token";
        return s;
    }
    static HttpAnswer Json(std::string body, int status = 200) {
        return {true, status, std::move(body), {}};
    }
    static HttpAnswer Device() {
        return Json(
            R"({"device_code":"D","user_code":"U","verification_uri":"https://v","expires_in":60,"interval":1})");
    }
    static HttpAnswer Tokens(const std::string& refresh, const std::string& claims = "") {
        std::string body = R"({"access_token":"AT-)" + refresh + R"(","token_type":"Bearer")";
        if (!refresh.empty()) {
            body += R"(,"refresh_token":")" + refresh + "\"";
        }
        if (!claims.empty()) {
            body += R"(,"id_token":")" + IdToken(claims) + "\"";
        }
        return Json(body + "}");
    }

    testing_support::TempFolder folder_;
    ScopedEnvironment state_{"ADDRWATCH_STATE_DIR", folder_.Path().string()};
    std::string savedIni_;
    std::deque<HttpAnswer> answers_;
    std::vector<std::string> forms_;
};

TEST_F(StoredSignIn, ASignInStoresTheTokenAndTheAccountAndReplacesTheOldOne) {
    answers_ = {Device(), Tokens("R1", R"({"preferred_username":"me@x.test","email":"e@x"})")};
    SignInResult r = SignInWith(Generic(), NoWaiting(), Scripted());
    ASSERT_EQ(r.status, SignInStatus::SignedIn) << r.message;
    EXPECT_EQ(r.message, "Signed in as me@x.test");
    EXPECT_EQ(Setting("SMTPUserName"), "me@x.test");
    EXPECT_EQ(store::LoadRefreshToken(), "R1");
    EXPECT_FALSE(RenewalDueAt(SystemClock::now()));

    // Without an ID token the typed user name stays.
    CommonModule::WriteINI(CommonModule::sAppINI, "EmailConfig", "SMTPUserName", "typed@x");
    answers_ = {Device(), Tokens("R2")};
    r = SignInWith(Generic(), NoWaiting(), Scripted());
    ASSERT_EQ(r.status, SignInStatus::SignedIn) << r.message;
    EXPECT_EQ(r.message, "Signed in as typed@x");
    EXPECT_EQ(store::LoadRefreshToken(), "R2");

    // No refresh token: nothing to renew with, so not signed in; the old token stays.
    answers_ = {Device(), Tokens("")};
    r = SignInWith(Generic(), NoWaiting(), Scripted());
    EXPECT_EQ(r.status, SignInStatus::Refused);
    EXPECT_EQ(store::LoadRefreshToken(), "R2");
}

TEST_F(StoredSignIn, RenewalStoresTheRotatedTokenAndKeepsItOnInvalidGrant) {
    EXPECT_EQ(RenewWith(Generic(), Scripted()).error, RenewError::NotSignedIn);
    EXPECT_TRUE(forms_.empty());

    CommonModule::WriteINI(CommonModule::sAppINI, "EmailConfig", "SMTPUserName", "me@x.test");
    ASSERT_TRUE(store::SaveRefreshToken("R1"));
    answers_ = {Tokens("R2")};
    RenewResult r = RenewWith(Generic(), Scripted());
    ASSERT_EQ(r.error, RenewError::None) << r.message;
    EXPECT_EQ(r.grant.accessToken, "AT-R2");
    EXPECT_EQ(r.grant.account, "me@x.test");
    EXPECT_EQ(store::LoadRefreshToken(), "R2");
    EXPECT_NE(forms_.back().find("refresh_token=R1"), std::string::npos);

    answers_ = {Json(R"({"error":"invalid_grant","error_description":"Token revoked."})", 400)};
    r = RenewWith(Generic(), Scripted());
    EXPECT_EQ(r.error, RenewError::InvalidGrant);
    EXPECT_NE(r.message.find("me@x.test"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("Token revoked."), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("addrwatch /signin"), std::string::npos) << r.message;
    EXPECT_EQ(store::LoadRefreshToken(), "R2");

    DeleteStoredToken();
    EXPECT_EQ(store::LoadRefreshToken(), std::nullopt);
    EXPECT_EQ(store::LoadRefreshedAt(), std::nullopt);
}

TEST_F(StoredSignIn, RenewalIsDueAfterSevenDaysOrWithoutAUsableTime) {
    const auto now = store::ParseUtc("2026-12-11T12:00:00Z").value();
    EXPECT_TRUE(RenewalDueAt(now));
    const std::pair<const char*, bool> cases[] = {
        {"2026-12-05T12:00:01Z", false},
        {"2026-12-04T12:00:00Z", true},
        {"2026-12-11T12:00:00Z", false},
        {"2026-12-14T12:00:00Z", true}, // ahead of the clock
        {"yesterday", true},
        {"2026-02-30T12:00:00Z", true},
    };
    for (const auto& [stored, due] : cases) {
        ASSERT_TRUE(store::SaveRefreshedAt(stored));
        EXPECT_EQ(RenewalDueAt(now), due) << stored;
    }
    EXPECT_EQ(store::FormatUtc(now), "2026-12-11T12:00:00Z");
}

TEST_F(StoredSignIn, SettingsOfEachProvider) {
    auto load = [&](const std::string& ini) {
        std::remove(CommonModule::sAppINI.c_str());
        folder_.Write("addrwatch.ini", "[EmailConfig]\r\n" + ini);
        return LoadOAuthSettings();
    };
    EXPECT_EQ(load("").value().provider, Provider::None);
    EXPECT_EQ(load("OAuthProvider=\r\n").value().provider, Provider::None);

    const auto microsoft =
        load("OAuthProvider=Microsoft\r\nOAuthClientID=id\r\nOAuthTenant=consumers\r\n");
    ASSERT_TRUE(microsoft.ok());
    EXPECT_EQ(microsoft.value().tokenUrl,
              "https://login.microsoftonline.com/consumers/oauth2/v2.0/token");
    EXPECT_EQ(microsoft.value().scope,
              "https://outlook.office.com/SMTP.Send offline_access openid profile email");
    const auto google = load("OAuthProvider=google\r\nOAuthClientID=id\r\n");
    ASSERT_TRUE(google.ok());
    EXPECT_EQ(google.value().scope, "https://mail.google.com/ openid email");
    const auto generic = load("OAuthProvider=generic\r\nOAuthClientID=id\r\nOAuthDeviceURL=https://"
                              "d\r\nOAuthTokenURL=https://t\r\n");
    ASSERT_TRUE(generic.ok());
    EXPECT_EQ(generic.value().deviceUrl, "https://d");

    for (const auto& [ini, words] : {
             std::pair{"OAuthProvider=yahoo\r\n", "is not one of microsoft, google or generic"},
             {"OAuthProvider=generic\r\nOAuthClientID=id\r\nOAuthTokenURL=https://t\r\n",
              "needs OAuthDeviceURL and OAuthTokenURL"},
             {"OAuthProvider=microsoft\r\nOAuthClientID=id\r\nOAuthTenant=a/../b\r\n",
              "is not a tenant name or id"},
             {"OAuthProvider=microsoft\r\n", "Signing in with OAuth"},
         }) {
        const auto s = load(ini);
        ASSERT_FALSE(s.ok()) << ini;
        EXPECT_NE(s.error().description.find(words), std::string::npos) << s.error().description;
    }
}

// The authorization-code flow on the loopback: a request of another sign-in is turned away, the
// one whose state matches is answered and its code exchanged with the verifier.
TEST_F(StoredSignIn, TheLoopbackRedirectTakesOnlyTheMatchingState) {
    OAuthSettings s = Generic();
    s.provider = Provider::Google;
    s.authorizeUrl = "https://auth/authorize";
    answers_ = {Tokens("R9", R"({"email":"g@x.test"})")};
    std::string page;
    std::thread browser;
    SignInEvents events = NoWaiting();
    events.prompt = [&](const SignInPrompt& prompt) {
        const std::string address = prompt.authorizationUrl;
        browser = std::thread([address, &page] {
            const auto redirect = QueryParameter(address, "redirect_uri").value();
            const auto state = QueryParameter(address, "state").value();
            const auto port =
                static_cast<std::uint16_t>(std::stoi(redirect.substr(redirect.rfind(':') + 1)));
            testing_support::HttpGet(port, "/?code=X&state=stale");
            page = testing_support::HttpGet(port, "/?code=C1&state=" + state);
        });
    };
    const SignInResult r = SignInWith(s, events, Scripted());
    browser.join();
    ASSERT_EQ(r.status, SignInStatus::SignedIn) << r.message;
    EXPECT_EQ(r.account, "g@x.test");
    EXPECT_NE(page.find("You may close this window."), std::string::npos) << page;
    ASSERT_EQ(forms_.size(), 1u);
    EXPECT_NE(forms_[0].find("code=C1"), std::string::npos);
    EXPECT_NE(forms_[0].find("code_verifier="), std::string::npos);
    EXPECT_EQ(store::LoadRefreshToken(), "R9");
}

} // namespace

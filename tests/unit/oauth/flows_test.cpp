// The flows against scripted answers, with a clock that only the waits move.
#include "oauth/flows.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using namespace oauth;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A provider that answers from a script, and the waits the flow asked for.
struct ScriptedProvider {
    std::deque<HttpAnswer> answers;
    std::vector<std::pair<std::string, std::string>> requests; // url, form
    std::vector<seconds> waits;
    Clock::time_point now{};
    bool cancelAfterFirstWait = false;

    FlowDeps Deps() {
        FlowDeps deps;
        deps.post = [this](const std::string& url, const std::string& form, const RequestBounds&) {
            requests.emplace_back(url, form);
            if (answers.empty()) {
                return HttpAnswer{false, 0, {}, "no answer in time"};
            }
            HttpAnswer a = answers.front();
            answers.pop_front();
            return a;
        };
        deps.now = [this] { return now; };
        return deps;
    }
    SignInEvents Events(std::vector<SignInPrompt>* prompts = nullptr) {
        SignInEvents events;
        events.prompt = [prompts](const SignInPrompt& p) {
            if (prompts) {
                prompts->push_back(p);
            }
        };
        events.wait = [this](milliseconds span) {
            waits.push_back(std::chrono::duration_cast<seconds>(span));
            now += span;
            return !(cancelAfterFirstWait && waits.size() == 1);
        };
        return events;
    }
};

HttpAnswer Json(int status, std::string body) {
    return {true, status, std::move(body), {}};
}
HttpAnswer Device(int expiresIn = 900, int interval = 5) {
    return Json(
        200,
        R"({"device_code":"DC","user_code":"ABCD-EFGH","verification_uri":"https://v/x","expires_in":)" +
            std::to_string(expiresIn) + R"(,"interval":)" + std::to_string(interval) + "}");
}
HttpAnswer Error(const std::string& code, const std::string& text = "") {
    return Json(400, R"({"error":")" + code + R"(","error_description":")" + text + R"("})");
}
HttpAnswer Tokens() {
    return Json(200, R"({"access_token":"AT","token_type":"Bearer","refresh_token":"RT"})");
}

OAuthSettings Generic() {
    OAuthSettings s;
    s.provider = Provider::Generic;
    s.clientId = "client 1";
    s.scope = "smtp offline_access";
    s.deviceUrl = "https://auth/device";
    s.tokenUrl = "https://auth/token";
    return s;
}

TEST(DeviceGrant, PollsAtTheIntervalUntilSignedIn) {
    ScriptedProvider p;
    p.answers = {Device(), Error("authorization_pending"), Error("slow_down"),
                 Error("authorization_pending"), Tokens()};
    std::vector<SignInPrompt> prompts;
    const FlowResult r = RunDeviceGrant(Generic(), p.Events(&prompts), p.Deps());
    ASSERT_EQ(r.status, SignInStatus::SignedIn) << r.message;
    EXPECT_EQ(r.tokens.accessToken, "AT");
    EXPECT_EQ(r.tokens.refreshToken, "RT");
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].verificationUri, "https://v/x");
    EXPECT_EQ(prompts[0].userCode, "ABCD-EFGH");
    // slow_down adds 5 s for the rest of the wait.
    EXPECT_EQ(p.waits, (std::vector<seconds>{seconds(5), seconds(5), seconds(10), seconds(10)}));
    ASSERT_EQ(p.requests.size(), 5u);
    EXPECT_EQ(p.requests[0].first, "https://auth/device");
    EXPECT_EQ(p.requests[0].second, "client_id=client%201&scope=smtp%20offline_access");
    EXPECT_EQ(p.requests[1].first, "https://auth/token");
    EXPECT_EQ(p.requests[1].second,
              "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&device_code=DC"
              "&client_id=client%201");
}

TEST(DeviceGrant, EndsWithTheProvidersWordsOrWhenTheCodeExpires) {
    struct Case {
        std::deque<HttpAnswer> answers;
        SignInStatus status;
        std::string message;
    };
    const Case cases[] = {
        {{Device(), Error("access_denied", "The user said no.")},
         SignInStatus::Refused,
         "The user said no."},
        {{Device(), Error("authorization_pending"), Error("expired_token", "Too late.")},
         SignInStatus::Refused,
         "Too late."},
        {{Device(), Error("invalid_client")}, SignInStatus::Refused, "invalid_client"},
        {{Error("invalid_scope", "Bad scope.")}, SignInStatus::Refused, "Bad scope."},
        {{Json(200, R"({"device_code":"DC"})")},
         SignInStatus::Refused,
         "The device endpoint's answer (HTTP 200) is not one this program reads"},
        {{}, SignInStatus::Refused, "The device endpoint: no answer in time"},
        {{Device(), Json(200, "{}")},
         SignInStatus::Refused,
         "Signing in failed: the token endpoint's answer (HTTP 200) is not one this program reads"},
        {{Device(), Json(503, R"({"access_token":"AT","token_type":"Bearer"})")},
         SignInStatus::Refused,
         "Signing in failed: the token endpoint answered HTTP 503"},
    };
    for (const Case& c : cases) {
        ScriptedProvider p;
        p.answers = c.answers;
        const FlowResult r = RunDeviceGrant(Generic(), p.Events(), p.Deps());
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_EQ(r.message, c.message);
    }
}

TEST(DeviceGrant, TheWaitIsBoundedByExpiresInAndFifteenMinutes) {
    for (const auto& [expiresIn, bound] :
         {std::pair{12, seconds(12)}, std::pair{86400, seconds(15 * 60)}}) {
        ScriptedProvider p;
        p.answers = {Device(expiresIn, 5)};
        for (int i = 0; i < 400; ++i) {
            p.answers.push_back(Error("authorization_pending"));
        }
        const Clock::time_point start = p.now;
        const FlowResult r = RunDeviceGrant(Generic(), p.Events(), p.Deps());
        EXPECT_EQ(r.status, SignInStatus::Refused);
        EXPECT_EQ(r.message, "The code expired before the sign-in was done");
        EXPECT_LE(p.now - start, bound);
        EXPECT_GT(p.now - start, bound - seconds(5));
    }
}

TEST(DeviceGrant, ACancelledWaitEndsAtOnce) {
    ScriptedProvider p;
    p.answers = {Device(), Tokens()};
    p.cancelAfterFirstWait = true;
    const FlowResult r = RunDeviceGrant(Generic(), p.Events(), p.Deps());
    EXPECT_EQ(r.status, SignInStatus::Cancelled);
    EXPECT_EQ(p.requests.size(), 1u);
}

TEST(Pkce, ChallengeOfTheRfcExampleAndFreshVerifiers) {
    // RFC 7636 appendix B.
    EXPECT_EQ(ChallengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const auto a = MakeVerifier();
    const auto b = MakeVerifier();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 43u);
    EXPECT_NE(*a, *b);
}

TEST(Pkce, AuthorizationAddressAndTheRedirectsItTakes) {
    OAuthSettings s = Generic();
    s.authorizeUrl = "https://auth/authorize";
    EXPECT_EQ(AuthorizationAddress(s, "http://127.0.0.1:5000/", "st", "ch"),
              "https://auth/authorize?response_type=code&client_id=client%201&redirect_uri="
              "http%3A%2F%2F127.0.0.1%3A5000%2F&scope=smtp%20offline_access&state=st"
              "&code_challenge=ch&code_challenge_method=S256");

    struct Case {
        const char* address;
        std::optional<std::string> code;
        const char* message;
    };
    const Case cases[] = {
        {"http://127.0.0.1/?state=s%2B1&code=4%2F0Ab", "4/0Ab", ""},
        {"/?code=C&state=s%2B1#frag", "C", ""},
        {"http://127.0.0.1/?code=C&state=other", std::nullopt,
         "The address does not answer this sign-in (its state differs)"},
        {"http://127.0.0.1/?code=C", std::nullopt,
         "The address does not answer this sign-in (its state differs)"},
        {"http://127.0.0.1/?state=s%2B1&error=access_denied&error_description=Not+today",
         std::nullopt, "Not today"},
        {"http://127.0.0.1/?state=s%2B1", std::nullopt,
         "The address carries no authorization code"},
    };
    for (const Case& c : cases) {
        const RedirectOutcome r = ReadRedirect(c.address, "s+1");
        EXPECT_EQ(r.code, c.code) << c.address;
        EXPECT_EQ(r.message, c.message) << c.address;
    }
}

TEST(Refresh, OutcomesOfTheRefreshGrant) {
    struct Case {
        HttpAnswer answer;
        RenewError error;
    };
    const Case cases[] = {
        {Tokens(), RenewError::None},
        {Error("invalid_grant", "revoked"), RenewError::InvalidGrant},
        {Error("invalid_client"), RenewError::Refused},
        {Json(200, "{\"access_token\":1}"), RenewError::Transport},
        {{false, 307, {}, "redirect"}, RenewError::Transport},
    };
    for (const Case& c : cases) {
        ScriptedProvider p;
        p.answers = {c.answer};
        const RefreshOutcome r = RequestRefresh(Generic(), "R T", p.Deps());
        EXPECT_EQ(r.error, c.error) << c.answer.body;
        ASSERT_EQ(p.requests.size(), 1u);
        EXPECT_EQ(p.requests[0].second,
                  "grant_type=refresh_token&refresh_token=R%20T&client_id=client%201");
    }
}

} // namespace

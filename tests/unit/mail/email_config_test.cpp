// LoadEmailConfig: order, required keys, flag conversion, password decryption, clean reloads.
#include "common/os_info.h"
#include "mail/send_email.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

using namespace modSendEmail;

namespace {

using Keys = std::map<std::string, std::string>;

const Keys kComplete = {
    {"SMTPServer", "mail.example.test"},
    {"SMTPPort", "465"},
    {"FromEmail", "w@example.test"},
    {"ToEmail", "a@example.test, b@example.test"},
    {"SMTPUserName", "user"},
    {"SMTPPassword", modBase85::EncryptText("pw", "4726150")},
    {"UseSSL", "1"},
    {"SMTPAuth", "1"},
    {"Subject", "Router"},
};

class LoadEmailConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = CommonModule::sAppINI;
        CommonModule::sAppINI = folder_.File("addrwatch.ini");
    }
    void TearDown() override {
        CommonModule::sAppINI = saved_;
        EmailSettings = EmailSettingsRecord{};
    }
    void Write(const Keys& keys) {
        std::string text = "[EmailConfig]\r\n";
        for (const auto& [k, v] : keys) {
            text += k + "=" + v + "\r\n";
        }
        folder_.Write("addrwatch.ini", text);
    }
    static Keys Without(Keys keys, const std::string& key) {
        keys.erase(key);
        return keys;
    }
    static Keys With(Keys keys, const std::string& key, const std::string& value) {
        keys[key] = value;
        return keys;
    }

    testing_support::TempFolder folder_;
    std::string saved_;
};

} // namespace

TEST_F(LoadEmailConfigTest, CompleteSettingsLoadEveryField) {
    Write(kComplete);
    const Outcome<bool> r = LoadEmailConfig();
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.value());
    EXPECT_EQ(EmailSettings.SMTPServer, "mail.example.test");
    EXPECT_EQ(EmailSettings.SMTPPort, "465");
    EXPECT_EQ(EmailSettings.FromEmail, "w@example.test");
    EXPECT_EQ(EmailSettings.ToEmail, "a@example.test, b@example.test");
    EXPECT_EQ(EmailSettings.SMTPUserName, "user");
    EXPECT_EQ(EmailSettings.SMTPPassword, "pw");
    EXPECT_TRUE(EmailSettings.UseSSL);
    EXPECT_TRUE(EmailSettings.SMTPAuth);
    EXPECT_EQ(EmailSettings.Subject, "Router");
}

TEST_F(LoadEmailConfigTest, EachRequiredKeyMissingGivesFalseWithoutALogLine) {
    for (const char* key : {"SMTPServer", "SMTPPort", "FromEmail", "ToEmail"}) {
        Write(Without(kComplete, key));
        testing_support::DebugCapture capture;
        const Outcome<bool> r = LoadEmailConfig();
        ASSERT_TRUE(r.ok()) << key;
        EXPECT_FALSE(r.value()) << key;
        EXPECT_TRUE(capture.Messages().empty());
    }
    for (const char* key : {"SMTPUserName", "SMTPPassword", "UseSSL", "SMTPAuth", "Subject"}) {
        Write(Without(kComplete, key));
        const Outcome<bool> r = LoadEmailConfig();
        ASSERT_TRUE(r.ok() && r.value()) << key;
    }
}

TEST_F(LoadEmailConfigTest, FlagValues) {
    struct Case {
        const char* value;
        bool on;
        long error; // 0 for none
    } cases[] = {{"1", true, 0},     {"0", false, 0},     {"", false, 0},
                 {" 1", true, 0},    {"2", false, 0},     {"1.0", true, 0},
                 {"yes", false, 13}, {"True", false, 13}, {"99999", false, 6}};
    for (const auto& c : cases) {
        Write(With(kComplete, "UseSSL", c.value));
        const Outcome<bool> r = LoadEmailConfig();
        if (c.error != 0) {
            ASSERT_FALSE(r.ok()) << c.value;
            EXPECT_EQ(r.error().number, c.error) << c.value;
        } else {
            ASSERT_TRUE(r.ok()) << c.value;
            EXPECT_EQ(EmailSettings.UseSSL, c.on) << c.value;
        }
    }
    // StartTLS is no check box: a word is no error but a request for STARTTLS.
    for (const auto& [value, startTls] : {std::pair<const char*, std::optional<bool>>{"", {}},
                                          {"0", false},
                                          {"on", true},
                                          {"2", true}}) {
        Write(With(kComplete, "StartTLS", value));
        ASSERT_TRUE(LoadEmailConfig().ok()) << value;
        EXPECT_EQ(EmailSettings.StartTLS, startTls) << value;
    }
}

TEST_F(LoadEmailConfigTest, AnErrorStopsTheLoadInItsOrder) {
    // SMTPAuth is read after UseSSL and before everything else.
    Write(With(kComplete, "SMTPAuth", "on"));
    Outcome<bool> r = LoadEmailConfig();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, 13);
    EXPECT_TRUE(EmailSettings.UseSSL);
    EXPECT_EQ(EmailSettings.FromEmail, "");

    // The password is read after sender and recipient and before the rest.
    Write(With(kComplete, "SMTPPassword", "typed in clear"));
    r = LoadEmailConfig();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, 5);
    EXPECT_EQ(EmailSettings.ToEmail, "a@example.test, b@example.test");
    EXPECT_EQ(EmailSettings.SMTPUserName, "");
    EXPECT_EQ(EmailSettings.SMTPServer, "");
}

TEST_F(LoadEmailConfigTest, EachLoadStartsFromACleanRecord) {
    Write(kComplete);
    ASSERT_TRUE(LoadEmailConfig().ok());
    Write(With(With(Without(Without(kComplete, "SMTPUserName"), "SMTPPassword"), "SMTPAuth", "0"),
               "UseSSL", ""));
    ASSERT_TRUE(LoadEmailConfig().ok());
    EXPECT_EQ(EmailSettings.SMTPUserName, "");
    EXPECT_EQ(EmailSettings.SMTPPassword, "");
    EXPECT_FALSE(EmailSettings.SMTPAuth);
    EXPECT_FALSE(EmailSettings.UseSSL);
}

TEST_F(LoadEmailConfigTest, EmptySubjectTakesTheComputerName) {
    Write(Without(kComplete, "Subject"));
    {
        testing_support::ScopedEnvironment env("computername", "DESK-42");
        ASSERT_TRUE(LoadEmailConfig().ok());
        EXPECT_EQ(EmailSettings.Subject, platform::ComputerName());
    }
    {
        testing_support::ScopedEnvironment env("computername", std::nullopt);
        ASSERT_TRUE(LoadEmailConfig().ok());
        EXPECT_EQ(EmailSettings.Subject, platform::ComputerName());
    }
}

TEST_F(LoadEmailConfigTest, SendEmailLogsALoadErrorAndSendsNothing) {
    Write(With(kComplete, "UseSSL", "yes"));
    {
        testing_support::DebugCapture capture;
        EXPECT_FALSE(SendEmail("203.0.113.7"));
        const std::vector<std::string> expected = {"\tSendEmail: (Resuming after error)",
                                                   "\t\t- VB Error: 13 Type mismatch"};
        EXPECT_EQ(capture.Messages(), expected);
    }
    Write(Without(kComplete, "SMTPServer"));
    testing_support::DebugCapture quiet; // captures do not nest
    EXPECT_FALSE(SendEmail("203.0.113.7"));
    EXPECT_TRUE(quiet.Messages().empty());
}

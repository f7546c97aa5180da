// modRegistry against the real registry under Wine and the SQLite store natively: the same cases.
#include "registry/registry.h"

#include "registry/registry_store.h"
#include "settings/ini_file.h"
#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace modRegistry;
using testing_support::DebugCapture;
using testing_support::ScopedEnvironment;
using Messages = std::vector<std::string>;

namespace {

const std::string kTestKey = "Software\\Quillfen\\AddrwatchTest";
const std::string kTestKey32 = "Software\\Wow6432Node\\Quillfen\\AddrwatchTest";
const std::string kGuestKey = "guest_addrwatchtest\\Wow6432Node\\Example";

Messages ReadLines(const std::string& key, const std::string& name, const std::string& value,
                   long code = 0) {
    return {"\tmodRegistry\\fReadValue: ", "\t\t- Passed Key: " + key,
            "\t\t- Passed Value: " + name, "\t\t- Returned Value: " + value,
            "\t\t- lResult (0 is successful): " + std::to_string(code)};
}

Messages WriteErrorLines(const std::string& error, const std::string& key, const std::string& name,
                         long code) {
    return {"\tmodRegistry\\fWriteValue - VB ERROR: " + error, "\t\t- Passed Key: " + key,
            "\t\t- Passed Value: " + name,
            "\t\t- lResult (0 is successful): " + std::to_string(code)};
}

// Raw access for values fWriteValue cannot make (binary data, odd lengths).
void PutRaw(const std::string& path, const std::string& name, std::uint32_t type,
            const std::string& data, store::View view = store::View::View64) {
    store::Key key;
    ASSERT_EQ(store::CreateKey(store::kLocalMachine, path, view, key), 0);
    ASSERT_EQ(store::SetValue(key, name, type, data), 0);
}

long GetRaw(const std::string& path, const std::string& name, store::View view, std::string& data) {
    store::Key key;
    const long open = store::OpenKey(store::kLocalMachine, path, view, key);
    if (open != 0) {
        return open;
    }
    std::uint32_t type = 0;
    std::size_t size = 0;
    return store::QueryValue(key, name, 4096, type, data, size);
}

class RegistryValues : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        for (const auto& key : {kTestKey, kTestKey32, std::string("guest_addrwatchtest")}) {
            testing_support::DeleteRegistryTree(store::kLocalMachine, key);
        }
        testing_support::DeleteRegistryTree(store::kCurrentUser, kTestKey);
    }

    testing_support::TempFolder folder_;
    ScopedEnvironment state_{"ADDRWATCH_STATE_DIR", folder_.Path().string()};
    ScopedEnvironment wow_{"ProgramFiles(x86)", std::string("C:\\Program Files (x86)")};
};

} // namespace

TEST_F(RegistryValues, RootNamesAndUnknownRoots) {
    const std::pair<const char*, std::uintptr_t> roots[] = {
        {"HKCU", store::kCurrentUser},   {"hkcu", store::kCurrentUser},
        {"HKLM", store::kLocalMachine},  {"hklm", store::kLocalMachine},
        {"HkU", store::kUsers},          {"HKDD", store::kDynData},
        {"hkcc", store::kCurrentConfig}, {"HKCR", store::kClassesRoot},
        {"HKEY_LOCAL_MACHINE", 0},       {"", 0},
    };
    for (const auto& [name, key] : roots) {
        EXPECT_EQ(fTopKey(name), key) << name;
    }

    DebugCapture log;
    RegValue result;
    EXPECT_EQ(fReadValue("HKEY_LOCAL_MACHINE", kTestKey, "V", "S", std::string("dflt"), result),
              99);
    EXPECT_EQ(result, RegValue(std::string("dflt")));
    EXPECT_TRUE(log.Messages().empty());
    EXPECT_EQ(fWriteValue("HKEY_LOCAL_MACHINE", kTestKey, "V", "S", std::string("x")), 99);
    EXPECT_EQ(log.Messages(), WriteErrorLines("0 ", "HKEY_LOCAL_MACHINE\\" + kTestKey, "V", 99));
}

TEST_F(RegistryValues, LowerCaseRootReachesTheSameKey) {
    ASSERT_EQ(fWriteValue("hkcu", kTestKey, "V", "s", std::string("same")), 0);
    RegValue result;
    EXPECT_EQ(fReadValue("HKCU", kTestKey, "v", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("same")));
}

TEST_F(RegistryValues, MissingKeyAndMissingValueBothGiveNotFoundSilently) {
    DebugCapture log;
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "LastWANIP", "S", std::string("dflt"), result), 2);
    EXPECT_EQ(result, RegValue(std::string("dflt")));
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "Other", "S", std::string("x")), 0);
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "LastWANIP", "S", std::string("dflt"), result), 2);
    EXPECT_EQ(result, RegValue(std::string("dflt")));
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(RegistryValues, StringRoundTripOnTheProgramsOwnKey) {
    const std::string key = "Software\\Quillfen\\Addrwatch";
    RegValue saved;
    const long had = fReadValue("HKLM", key, "LastWANIP", "S", std::string(), saved);

    for (const std::string value : {"203.0.113.7", "Unknown", "", "  blanks kept  "}) {
        DebugCapture log;
        ASSERT_EQ(fWriteValue("HKLM", key, "LastWANIP", "S", value), 0);
        EXPECT_TRUE(log.Messages().empty());
        RegValue result;
        EXPECT_EQ(fReadValue("HKLM", key, "LastWANIP", "S", std::string("dflt"), result), 0);
        EXPECT_EQ(result, RegValue(value));
        EXPECT_EQ(log.Messages(), ReadLines("HKLM\\" + key, "LastWANIP", value));
    }
    if (had == 0) {
        fWriteValue("HKLM", key, "LastWANIP", "S", saved);
    } else {
        testing_support::DeleteRegistryTree(store::kLocalMachine, key);
    }
}

TEST_F(RegistryValues, DeleteValueRemovesOneValueSilently) {
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "PendingWANIP", "S", std::string("203.0.113.7")), 0);
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "LastWANIP", "S", std::string("203.0.113.7")), 0);
    DebugCapture log;
    EXPECT_EQ(fDeleteValue("HKLM", kTestKey, "pendingwanip"), 0);
    EXPECT_EQ(fDeleteValue("HKLM", kTestKey, "PendingWANIP"), 2);
    EXPECT_EQ(fDeleteValue("HKLM", kTestKey + "\\Missing", "PendingWANIP"), 2);
    EXPECT_EQ(fDeleteValue("NoSuchRoot", kTestKey, "PendingWANIP"), 99);
    EXPECT_TRUE(log.Messages().empty());
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "PendingWANIP", "S", std::string(), result), 2);
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "LastWANIP", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("203.0.113.7")));
}

TEST_F(RegistryValues, StringWithNoDataReadsAsEmptyText) {
    PutRaw(kTestKey, "Empty", store::kString, "");
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "Empty", "S", std::string("dflt"), result), 0);
    EXPECT_EQ(result, RegValue(std::string()));
}

TEST_F(RegistryValues, NumbersAreSixteenBitIntegersStoredSignExtended) {
    struct Case {
        RegValue written;
        std::optional<std::int32_t> stored; // nothing: a conversion error, nothing written
        std::string error;
    } cases[] = {
        {std::int32_t{-1}, -1, ""},
        {std::string("-1"), -1, ""},
        {std::string(" 12 "), 12, ""},
        {std::string("2.5"), 2, ""}, // rounds half to even
        {std::int32_t{32767}, 32767, ""},
        {std::int32_t{40000}, std::nullopt, "6 Overflow"},
        {std::string("-32769"), std::nullopt, "6 Overflow"},
        {std::string("12abc"), std::nullopt, "13 Type mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(RegValueText(c.written));
        testing_support::DeleteRegistryTree(store::kLocalMachine, kTestKey);
        DebugCapture log;
        // A conversion error is trapped after the key was made: the code is still 0.
        EXPECT_EQ(fWriteValue("HKLM", kTestKey, "Number", "D", c.written), 0);
        RegValue result;
        const long code = fReadValue("HKLM", kTestKey, "Number", "D", std::int32_t{0}, result);
        if (c.stored) {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(result, RegValue(*c.stored));
            std::string raw;
            ASSERT_EQ(GetRaw(kTestKey, "Number", store::View::View64, raw), 0);
            const auto u = static_cast<std::uint32_t>(*c.stored);
            EXPECT_EQ(raw, std::string({char(u), char(u >> 8), char(u >> 16), char(u >> 24)}));
        } else {
            EXPECT_EQ(code, 2);
            EXPECT_EQ(log.Messages(), WriteErrorLines(c.error, "HKLM\\" + kTestKey, "Number", 0));
        }
    }
}

TEST_F(RegistryValues, MultiStringWritesAppendToTheList) {
    RegValue result;
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "List", "M", std::string("one")), 0);
    ASSERT_EQ(fReadValue("HKLM", kTestKey, "List", "M", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("one\0", 4)));
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "List", "M", std::string("two")), 0);
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "List", "M", std::string("three")), 0);
    ASSERT_EQ(fReadValue("HKLM", kTestKey, "List", "M", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("one\0two\0three\0", 14)));

    // A list without entries (empty strings only) gives a list of one entry.
    PutRaw(kTestKey, "Blank", store::kMultiString, std::string("\0\0\0", 3));
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "Blank", "M", std::string("only")), 0);
    ASSERT_EQ(fReadValue("HKLM", kTestKey, "Blank", "M", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("only\0", 5)));
}

TEST_F(RegistryValues, BinaryAndNumberReadsOfLongerDataFailWithMoreData) {
    PutRaw(kTestKey, "Three", store::kBinary, std::string("\1\0\0", 3));
    PutRaw(kTestKey, "Eight", store::kBinary, std::string(8, '\1'));
    PutRaw(kTestKey, "False", store::kBinary, std::string("\0\0", 2));
    PutRaw(kTestKey, "True", store::kBinary, std::string("\0\1", 2));
    DebugCapture log;
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "Three", "B", true, result), 234);
    EXPECT_EQ(result, RegValue(true));
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "Eight", "D", std::int32_t{5}, result), 234);
    EXPECT_EQ(result, RegValue(std::int32_t{5}));
    EXPECT_TRUE(log.Messages().empty());

    EXPECT_EQ(fReadValue("HKLM", kTestKey, "False", "b", true, result), 0);
    EXPECT_EQ(result, RegValue(false));
    EXPECT_EQ(fReadValue("HKLM", kTestKey, "True", "B", false, result), 0);
    EXPECT_EQ(result, RegValue(true));
    EXPECT_EQ(log.Messages().back(), "\t\t- lResult (0 is successful): 0");
    EXPECT_EQ(log.Messages()[log.Messages().size() - 2], "\t\t- Returned Value: True");
}

TEST_F(RegistryValues, UnknownTypeLettersReadAndWriteNothing) {
    ASSERT_EQ(fWriteValue("HKLM", kTestKey, "V", "S", std::string("text")), 0);
    for (const char* letter : {"X", "E", ""}) {
        SCOPED_TRACE(letter);
        DebugCapture log;
        RegValue result;
        EXPECT_EQ(fReadValue("HKLM", kTestKey, "V", letter, std::string("dflt"), result), 0);
        EXPECT_EQ(result, RegValue(std::string("dflt")));
        EXPECT_EQ(log.Messages(), ReadLines("HKLM\\" + kTestKey, "V", "dflt"));
    }
    for (const char* letter : {"B", "Q"}) {
        EXPECT_EQ(fWriteValue("HKLM", kTestKey, "Nothing", letter, std::string("1")), 0);
    }
    std::string raw;
    EXPECT_EQ(GetRaw(kTestKey, "Nothing", store::View::View64, raw), 2);
}

TEST_F(RegistryValues, ASettingsFileInPlaceOfARootIsFileMode) {
    const std::string ini = folder_.File("app.ini");
    folder_.Write("app.ini", "[General]\r\nKey=old\r\n");
    EXPECT_EQ(fTopKey(ini), 1u);

    DebugCapture log;
    EXPECT_EQ(fWriteValue(ini, "General", "Key", "S", std::string("new")), 0);
    EXPECT_EQ(CommonModule::ReadINI(ini, "General", "Key"), "new");
    RegValue result;
    EXPECT_EQ(fReadValue(ini, "General", "Key", "S", std::string("dflt"), result), 0);
    EXPECT_EQ(result, RegValue(std::string("new")));
    EXPECT_EQ(fReadValue(ini, "General", "Missing", "S", std::string("dflt"), result), 0);
    EXPECT_EQ(result, RegValue(std::string("dflt")));
    EXPECT_EQ(fReadValue(ini, "General", "Key", "D", std::int32_t{3}, result), 0);
    EXPECT_EQ(result, RegValue(std::int32_t{3}));
    EXPECT_TRUE(log.Messages().empty());

    EXPECT_EQ(fWriteValue(ini, "General", "Key", "D", std::int32_t{1}), 99);
    EXPECT_EQ(log.Messages(), WriteErrorLines("0 ", ini + "\\General", "Key", 99));
    EXPECT_EQ(CommonModule::ReadINI(ini, "General", "Key"), "new");
}

TEST_F(RegistryValues, Wow6432NodePathsReachTheThirtyTwoBitView) {
    ASSERT_EQ(fWriteValue("HKLM", kTestKey32, "V", "S", std::string("32-bit")), 0);
    RegValue result;
    {
        DebugCapture log;
        EXPECT_EQ(fReadValue("HKLM", kTestKey32, "V", "S", std::string(), result), 0);
        EXPECT_EQ(result, RegValue(std::string("32-bit")));
        EXPECT_EQ(log.Messages(),
                  ReadLines("HKLM\\software\\quillfen\\addrwatchtest", "V", "32-bit"));
    }
    std::string raw;
    EXPECT_EQ(GetRaw(kTestKey, "V", store::View::View32, raw), 0);
    EXPECT_EQ(raw, std::string("32-bit", 7));
    EXPECT_EQ(GetRaw(kTestKey, "V", store::View::View64, raw), 2);

    // An offline installation's hive is opened as written, never translated.
    ASSERT_EQ(fWriteValue("HKLM", kGuestKey, "V", "S", std::string("guest")), 0);
    DebugCapture log;
    EXPECT_EQ(fReadValue("HKLM", kGuestKey, "V", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("guest")));
    EXPECT_EQ(log.Messages(), ReadLines("HKLM\\" + kGuestKey, "V", "guest"));
}

TEST_F(RegistryValues, OnAThirtyTwoBitSystemPathsAreUsedUnchanged) {
    ScopedEnvironment noWow("ProgramFiles(x86)", std::nullopt);
    ASSERT_EQ(fWriteValue("HKLM", kTestKey32, "V", "S", std::string("as written")), 0);
    DebugCapture log;
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", kTestKey32, "V", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("as written")));
    EXPECT_EQ(log.Messages(), ReadLines("HKLM\\" + kTestKey32, "V", "as written"));
}

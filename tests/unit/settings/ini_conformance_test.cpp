// The settings file's reading and writing rules. The same table runs natively (the project's own
// reader and writer) and under Wine (the system's profile functions), which is the reference.
#include "settings/ini_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using CommonModule::ReadINI;
using CommonModule::WriteINI;

namespace {

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
};

const ReadCase kReadCases[] = {
    {"plain", "[General]\r\nTaskTime=07:30:00\r\n", "General", "TaskTime", "07:30:00"},
    {"section and key ignore case", "[General]\r\nTaskTime=x\r\n", "GENERAL", "tasktime", "x"},
    {"blanks around key and value", "[General]\r\n  TaskTime  =  07:30  \r\n", "General",
     "TaskTime", "07:30"},
    {"blanks inside the value stay", "[General]\r\nSubject=My  home PC\r\n", "General", "Subject",
     "My  home PC"},
    {"double quotes stripped", "[G]\r\nk=\"quoted value\"\r\n", "G", "k", "quoted value"},
    {"single quotes stripped", "[G]\r\nk='quoted'\r\n", "G", "k", "quoted"},
    {"unmatched quotes kept", "[G]\r\nk=\"half\r\n", "G", "k", "\"half"},
    {"mixed quotes kept", "[G]\r\nk=\"mixed'\r\n", "G", "k", "\"mixed'"},
    {"inner quotes kept", "[G]\r\nk=a \"b\" c\r\n", "G", "k", "a \"b\" c"},
    {"missing key", "[G]\r\nk=1\r\n", "G", "other", ""},
    {"missing section", "[G]\r\nk=1\r\n", "H", "k", ""},
    {"key in another section", "[G]\r\n[H]\r\nk=1\r\n", "G", "k", ""},
    {"line without equals", "[G]\r\nk\r\nj=2\r\n", "G", "j", "2"},
    {"line without equals reads empty", "[G]\r\nk\r\n", "G", "k", ""},
    {"comment line", "[G]\r\n;k=1\r\nk=2\r\n", "G", "k", "2"},
    {"semicolon inside value", "[G]\r\nk=a;b\r\n", "G", "k", "a;b"},
    {"first duplicate key wins", "[G]\r\nk=1\r\nk=2\r\n", "G", "k", "1"},
    {"equals inside value", "[G]\r\nk=a=b\r\n", "G", "k", "a=b"},
    {"empty value", "[G]\r\nk=\r\n", "G", "k", ""},
    {"LF line ends", "[G]\nk=lf\nj=2\n", "G", "k", "lf"},
    {"CR-only line ends", "[G]\rk=cr\rj=2\r", "G", "j", "2"},
    {"no final line end", "[G]\r\nk=last", "G", "k", "last"},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF[G]\r\nk=bom\r\n", "G", "k", "bom"},
    {"blank lines and indentation", "\r\n  [G]\r\n\r\n\tk=1\r\n", "G", "k", "1"},
    {"254 characters kept", "[G]\r\nk=" + std::string(254, 'v') + "\r\n", "G", "k",
     std::string(254, 'v')},
    {"300 characters cut to 254", "[G]\r\nk=" + std::string(300, 'v') + "\r\n", "G", "k",
     std::string(254, 'v')},
    {"empty file", "", "G", "k", ""},
    {"first duplicate section wins", "[G]\r\nk=1\r\n[G]\r\nk=2\r\n", "G", "k", "1"},
    {"duplicate section key", "[G]\r\nk=1\r\n[G]\r\nj=2\r\n", "G", "j", ""},
    {"text after the section name", "[G] ; note\r\nk=1\r\n", "G", "k", "1"},
    {"blank value", "[G]\r\nk=   \r\n", "G", "k", ""},
    {"blanks inside a key", "[G]\r\nTask Time=1\r\n", "G", "Task Time", "1"},
    {"blanks inside a section name", "[ G ]\r\nk=1\r\n", "G", "k", "1"},
};

} // namespace

TEST(IniConformance, Read) {
    testing_support::TempFolder folder;
    for (const auto& c : kReadCases) {
        folder.Write("read.ini", c.file);
        EXPECT_EQ(ReadINI(folder.File("read.ini"), c.section, c.key), c.expected) << c.name;
    }
}

TEST(IniConformance, MissingFileOrFolderReadsEmpty) {
    testing_support::TempFolder folder;
    EXPECT_EQ(ReadINI(folder.File("none.ini"), "G", "k"), "");
    EXPECT_EQ(ReadINI(folder.File("no-folder/none.ini"), "G", "k"), "");
}

TEST(IniConformance, WriteThenRead) {
    testing_support::TempFolder folder;
    const std::string file = folder.File("write.ini");

    WriteINI(file, "EmailConfig", "SMTPServer", "smtp.example.org");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "SMTPServer"), "smtp.example.org") << "new file";

    WriteINI(file, "EmailConfig", "SMTPPort", "465");
    WriteINI(file, "General", "TaskTime", "07:30:00");
    WriteINI(file, "emailconfig", "smtpserver", "mail.example.org");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "SMTPServer"), "mail.example.org") << "replaced";
    EXPECT_EQ(ReadINI(file, "EmailConfig", "SMTPPort"), "465") << "kept";
    EXPECT_EQ(ReadINI(file, "General", "TaskTime"), "07:30:00") << "new section";

    WriteINI(file, "General", "Empty", "");
    EXPECT_EQ(ReadINI(file, "General", "Empty"), "");
    EXPECT_EQ(ReadINI(file, "General", "TaskTime"), "07:30:00");

    WriteINI(file, "General", "Long", std::string(300, 'x'));
    EXPECT_EQ(ReadINI(file, "General", "Long"), std::string(254, 'x'));
}

TEST(IniConformance, WriteKeepsTheRestOfTheFile) {
    testing_support::TempFolder folder;
    folder.Write("keep.ini", "; settings\r\n[General]\r\nTaskTime=10:00:00\r\nOther=1\r\n\r\n"
                             "[EmailConfig]\r\nSMTPPort=25\r\n");
    const std::string file = folder.File("keep.ini");
    WriteINI(file, "General", "TaskTime", "11:00:00");
    WriteINI(file, "General", "Added", "a");
    WriteINI(file, "EmailConfig", "Subject", "s");
    EXPECT_EQ(ReadINI(file, "General", "TaskTime"), "11:00:00");
    EXPECT_EQ(ReadINI(file, "General", "Other"), "1");
    EXPECT_EQ(ReadINI(file, "General", "Added"), "a");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "SMTPPort"), "25");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "Subject"), "s");
    EXPECT_EQ(ReadINI(file, "General", "Subject"), "");
    const std::string text = folder.Read("keep.ini");
    EXPECT_NE(text.find("; settings"), std::string::npos);
}

TEST(IniConformance, LineBreakInAValueNeverStartsALine) {
    testing_support::TempFolder folder;
    const std::string file = folder.File("inject.ini");
    WriteINI(file, "EmailConfig", "Subject", "Home\r\n[General]\r\nTaskTime=99");
    WriteINI(file, "General", "TaskTime", "07:00:00");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "Subject"), "Home");
    EXPECT_EQ(ReadINI(file, "General", "TaskTime"), "07:00:00");
    WriteINI(file, "EmailConfig", "Subject", "a\nSMTPServer=evil");
    EXPECT_EQ(ReadINI(file, "EmailConfig", "SMTPServer"), "");
}

TEST(IniConformance, WriteIntoAMissingFolderCreatesNothing) {
    testing_support::TempFolder folder;
    WriteINI(folder.File("no-folder/new.ini"), "G", "k", "1");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "no-folder"));
}

// The store has no tools to fall back on: a deletion that fails twice ends after the second try.
#include "registry/delete_key.h"

#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DeleteKeyPosix, DamagedStoreFailsTwiceWithoutRegExe) {
    testing_support::TempFolder folder;
    testing_support::ScopedEnvironment state("ADDRWATCH_STATE_DIR", folder.Path().string());
    folder.Write("registry.db", std::string(4096, 'x'));

    testing_support::DebugCapture capture;
    bool notFound = false;
    const long code = modRegistry::fDeleteKey("HKLM", "Software\\Quillfen", "Addrwatch", notFound);
    EXPECT_EQ(code, 1009);
    EXPECT_FALSE(notFound);

    std::vector<std::string> lines;
    for (const std::string& m : capture.Messages()) {
        if (m.rfind("\tmodRegistry\\store", 0) != 0) { // the store's own detail
            lines.push_back(m);
        }
    }
    const std::string key = "HKLM\\Software\\Quillfen\\Addrwatch";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "\tmodRegistry\\fDeleteKey - Error:  1009", "\t\tKey:  " + key,
                         "\t\t- Attempting second run using subinacl...",
                         "\tmodRegistry\\fDeleteKey - Error:  1009", "\t\tKey:  " + key,
                         "\tmodRegistry\\fDeleteKey: ", "\t\t- Key: " + key,
                         "\t\t- lResult (0=Success 2=Not Found): 1009"}));
    EXPECT_EQ(folder.Read("registry.db"), std::string(4096, 'x'));
}

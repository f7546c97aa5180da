// Stands in for the scheduler tool beside the program under test: appends its argument text,
// one line per start, to schtasks.log in its own folder, and succeeds.
#include "common/windows_api.h"

#include <cstdio>
#include <string>

int main() {
    std::string commandLine = ::GetCommandLineA();
    // The arguments: everything after the program's own (possibly quoted) name.
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        i = commandLine.find('"', 1);
        i = i == std::string::npos ? commandLine.size() : i + 1;
    } else {
        i = commandLine.find(' ');
        i = i == std::string::npos ? commandLine.size() : i;
    }
    while (i < commandLine.size() && commandLine[i] == ' ') {
        ++i;
    }
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string log = path;
    log = log.substr(0, log.find_last_of('\\') + 1) + "schtasks.log";
    if (FILE* f = std::fopen(log.c_str(), "ab")) {
        std::fprintf(f, "%s\n", commandLine.c_str() + i);
        std::fclose(f);
    }
    return 0;
}

// A stand-in program that records how it was started: each start appends its argument text as one
// line to RecorderLog(program). On Windows it is the built recorder.exe (the raw command-line text
// after the program path); on POSIX a shell script (its arguments joined by blanks).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Puts a recorder at folder/baseName (".exe" added on Windows) and returns its full path.
std::string InstallRecorder(const std::filesystem::path& folder, const std::string& baseName);

// Where the recorder at that path writes: the path without ".exe", then ".log".
std::string RecorderLog(const std::string& program);

// The recorded lines, without their line ends; empty when nothing was recorded.
std::vector<std::string> RecordedLines(const std::string& program);

} // namespace testing_support

// The terminal of whoever started the program, for the one mode that talks to a person without
// a window. Windows: the program is a GUI program, so it uses the standard handles it was given
// (a redirection) or else attaches to the console of its parent. POSIX: stdout and stdin.
#pragma once

#include <string>

namespace platform {

// Writes the text and a line end; nothing when there is no terminal.
void WriteTerminalLine(const std::string& line);
// One line typed or pasted, without its line end; empty at the end of input.
std::string ReadTerminalLine();

} // namespace platform

// The page's file during a lookup. An answer is written beside it under "<file>.part" and takes
// the file's name only when whole, so a reader never sees half an answer and an interrupted
// download leaves nothing that looks like one.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string PartFileName(const std::string& sFile);

// Removes the file and a part file left by an earlier, interrupted download.
void RemovePageFiles(const std::string& sFile);

// Writes the whole answer into place; false, with no file left, when that fails.
bool WritePageFile(const std::string& sFile, std::string_view bytes);

} // namespace platform

#include "monitor/page_file.h"

#include <cstdio>

namespace platform {

std::string PartFileName(const std::string& sFile) {
    return sFile + ".part";
}

void RemovePageFiles(const std::string& sFile) {
    std::remove(sFile.c_str());
    std::remove(PartFileName(sFile).c_str());
}

bool WritePageFile(const std::string& sFile, std::string_view bytes) {
    RemovePageFiles(sFile);
    const std::string part = PartFileName(sFile);
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // rename() does not replace an existing file on every platform: the target was removed.
    if (std::fclose(f) == 0 && written && std::rename(part.c_str(), sFile.c_str()) == 0) {
        return true;
    }
    RemovePageFiles(sFile);
    return false;
}

} // namespace platform

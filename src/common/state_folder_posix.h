// The POSIX state folder, where the registry store and the check run's lock file live:
// $ADDRWATCH_STATE_DIR, or /var/lib/quillfen. Include only from *_posix.cpp files.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace posix {

inline std::string StateFolder() {
    const char* dir = std::getenv("ADDRWATCH_STATE_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/var/lib/quillfen";
}

// Creates the missing folders on the way to the file at path, mode 0700: what the state holds is
// the owner's alone. Folders that exist keep their mode. 0 on success, else the errno of the
// first folder that could not be made, which failedFolder then names.
inline int MakeParentFolders(const std::string& path, std::string& failedFolder) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            failedFolder = folder;
            return errno;
        }
    }
    return 0;
}

} // namespace posix

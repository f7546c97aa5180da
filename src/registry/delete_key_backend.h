// What fDeleteKey needs from the platform: open, list and delete keys in a given view. The
// Windows backend speaks advapi32; the POSIX one speaks the registry store.
#pragma once

#include "registry/registry_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace modRegistry::deletion {

// An open key; closed when dropped.
class OpenedKey {
public:
    OpenedKey() = default;
    ~OpenedKey() { Close(); }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    void Close();

    std::uintptr_t root = 0;
    std::string path;
    store::View view = store::View::Default;
    std::uintptr_t handle = 0; // the platform's handle, where it has one
    bool open = false;
};

// Opens a key with the right to create (and so to delete) subkeys.
long OpenForSubkeyChange(std::uintptr_t root, const std::string& path, store::View view,
                         OpenedKey& key);
// Opens a key with full access.
long OpenForFullAccess(std::uintptr_t root, const std::string& path, store::View view,
                       OpenedKey& key);
// The names of the direct subkeys, in the platform's enumeration order.
std::vector<std::string> SubkeyNames(const OpenedKey& key);
// Deletes the subkey of an open key.
long DeleteSubkey(const OpenedKey& parent, const std::string& name);

// True where deleting a key takes its whole subtree at once (the POSIX store, in one
// transaction): fDeleteSubkeys then walks the subtree for the grants and the log only.
bool DeletesSubtreeAtOnce();

// The last resort after two failed attempts: "reg.exe" on Windows, nothing elsewhere.
void DeleteWithRegExe(const std::string& fullKey);

} // namespace modRegistry::deletion

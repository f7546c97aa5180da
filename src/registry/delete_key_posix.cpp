// Key deletion on POSIX: the registry store. Deleting a key removes its whole subtree in one
// transaction; there are no access lists to reset and no command-line tools to fall back on.
#include "registry/delete_key.h"
#include "registry/delete_key_backend.h"

namespace modRegistry {

namespace deletion {

namespace {

long Open(std::uintptr_t root, const std::string& path, store::View view, OpenedKey& key) {
    key.Close();
    store::Key probe;
    const long code = store::OpenKey(root, path, view, probe);
    if (code == store::kSuccess) {
        key.root = root;
        key.path = path;
        key.view = view;
        key.open = true;
    }
    return code;
}

} // namespace

void OpenedKey::Close() {
    open = false;
}

long OpenForSubkeyChange(std::uintptr_t root, const std::string& path, store::View view,
                         OpenedKey& key) {
    return Open(root, path, view, key);
}

long OpenForFullAccess(std::uintptr_t root, const std::string& path, store::View view,
                       OpenedKey& key) {
    return Open(root, path, view, key);
}

std::vector<std::string> SubkeyNames(const OpenedKey& key) {
    std::vector<std::string> names;
    if (store::EnumerateSubkeys(key.root, key.path, key.view, names) != store::kSuccess) {
        names.clear();
    }
    return names;
}

long DeleteSubkey(const OpenedKey& parent, const std::string& name) {
    return store::DeleteKeyTree(parent.root, parent.path + "\\" + name, parent.view);
}

bool DeletesSubtreeAtOnce() {
    return true;
}

void DeleteWithRegExe(const std::string&) {}

} // namespace deletion

void ResetRegKeyWithSubinacl(const std::string&, const std::string&, std::string&, std::string&) {}

} // namespace modRegistry

#include "support/test_registry.h"

#include "registry/registry_store.h"

namespace testing_support {

void DeleteRegistryTree(std::uintptr_t root, const std::string& path) {
    modRegistry::store::DeleteKeyTree(root, path, modRegistry::store::View::View64);
}

} // namespace testing_support

// SetPerm on POSIX: the registry store keeps no access lists, so there is nothing to grant and
// nothing to report; the deletion that follows goes ahead as on a key with full access.
#include "security/set_perm.h"

namespace SetPerm {

bool GetRegKeyPermissions(const std::string&, const std::string&, KeyView) {
    return false;
}

bool RegSetKeyPermission(const std::string&, const std::string&, std::string&, std::string&,
                         const std::string&, KeyView) {
    return false;
}

} // namespace SetPerm

// SetPerm on Windows: reads a registry key's access list, builds a new one in which the named
// accounts hold the rights asked for, and stores it, with the advapi32 security functions.
// Everything here reports through DPrint and returns false on failure; nothing throws.
#include "security/set_perm_win32.h"
#include "security/set_perm.h"

#include "common/dprint.h"
#include "common/os_info.h"
#include "common/text.h"
#include "common/win32_handle.h"

#include <cstring>
#include <new>

namespace SetPerm {

using CommonModule::DPrint;

namespace {

// Reports a trapped run-time error in the module's shape; allocation is the only one we meet.
void ReportOutOfMemory(const char* routine) {
    DPrint(std::string("SetPerm\\") + routine + " - VB ERROR: 7 Out of memory");
}

REGSAM ViewFlag(KeyView view) {
    switch (view) {
    case KeyView::View32:
        return KEY_WOW64_32KEY;
    case KeyView::View64:
        return KEY_WOW64_64KEY;
    default:
        return 0;
    }
}

std::string EnvironmentValue(const char* name) {
    char buffer[1024];
    const DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

HKEY RootKey(const std::string& sKey) {
    const std::string upper = text::ToUpperAscii(sKey);
    if (upper == "HKCU") {
        return HKEY_CURRENT_USER;
    }
    if (upper == "HKLM") {
        return HKEY_LOCAL_MACHINE;
    }
    if (upper == "HKU") {
        return HKEY_USERS;
    }
    if (upper == "HKCR") {
        return HKEY_CLASSES_ROOT;
    }
    DPrint("SetPerm\\RegSetKeyPermission - Bad skey passed:  " + sKey);
    DPrint("\tDefaulting to HKLM...");
    return HKEY_LOCAL_MACHINE;
}

// The account identifier of an existing entry, or null for an entry that carries none we can
// read safely. Object entries put one or two GUIDs before it.
PSID AceSid(const ACE_HEADER* ace) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(ace);
    std::size_t offset = 8; // header and mask
    switch (ace->AceType) {
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE: {
        if (ace->AceSize < 12) {
            return nullptr;
        }
        DWORD flags = 0;
        std::memcpy(&flags, bytes + 8, sizeof flags);
        offset = 12 + ((flags & ACE_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0) +
                 ((flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0);
        break;
    }
    default:
        break;
    }
    if (offset + 8 > ace->AceSize) {
        return nullptr;
    }
    PSID sid = const_cast<BYTE*>(bytes + offset);
    if (!::IsValidSid(sid) || offset + ::GetLengthSid(sid) > ace->AceSize) {
        return nullptr;
    }
    return sid;
}

// Identifiers the build looked up, freed (and taken out of the entries) when the build ends.
class LookedUpSids {
public:
    explicit LookedUpSids(std::vector<PermissionEntry>& entries) : entries_(entries) {}
    LookedUpSids(const LookedUpSids&) = delete;
    LookedUpSids& operator=(const LookedUpSids&) = delete;
    ~LookedUpSids() {
        for (PermissionEntry& e : entries_) {
            if (!e.sidSuppliedByCaller) {
                e.sid = nullptr;
            }
        }
    }

    // Looks the account up on the local system; the identifier lives as long as this object.
    PSID Lookup(const std::string& account) {
        DWORD sidSize = 0;
        char domain[256];
        DWORD domainSize = sizeof domain;
        SID_NAME_USE use = SidTypeUnknown;
        ::LookupAccountNameA(nullptr, account.c_str(), nullptr, &sidSize, domain, &domainSize,
                             &use);
        if (sidSize == 0) {
            return nullptr;
        }
        std::vector<BYTE>& sid = buffers_.emplace_back(sidSize);
        domainSize = sizeof domain;
        if (!::LookupAccountNameA(nullptr, account.c_str(), sid.data(), &sidSize, domain,
                                  &domainSize, &use)) {
            return nullptr;
        }
        return sid.data();
    }

private:
    std::vector<PermissionEntry>& entries_;
    std::vector<std::vector<BYTE>> buffers_;
};

// The new absolute descriptor and the access list it points at.
struct NewDescriptor {
    SECURITY_DESCRIPTOR sd{};
    std::vector<BYTE> acl;
};

bool BuildSecurityDescriptor(PSECURITY_DESCRIPTOR current, std::vector<PermissionEntry>& entries,
                             NewDescriptor& out) {
    const clsOpSys os;
    const bool autoInherit = os.PlatformID() == VER_PLATFORM_WIN32_NT && os.MajorVersion() > 4;

    if (!::InitializeSecurityDescriptor(&out.sd, SECURITY_DESCRIPTOR_REVISION)) {
        return false;
    }

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL currentAcl = nullptr;
    if (current != nullptr &&
        !::GetSecurityDescriptorDacl(current, &present, &currentAcl, &defaulted)) {
        return false;
    }
    if (!present) {
        currentAcl = nullptr;
    }
    ACL_SIZE_INFORMATION info{};
    DWORD newSize = sizeof(ACL);
    if (currentAcl != nullptr) {
        if (!::GetAclInformation(currentAcl, &info, sizeof info, AclSizeInformation)) {
            return false;
        }
        newSize = info.AclBytesInUse;
    }

    LookedUpSids sids(entries);
    for (PermissionEntry& e : entries) {
        if (e.sid == nullptr) {
            e.sid = sids.Lookup(e.accountName);
            e.sidSuppliedByCaller = false;
            if (e.sid == nullptr) {
                return false;
            }
        }
        newSize += ::GetLengthSid(e.sid) + 8;
    }

    out.acl.assign(newSize, 0);
    PACL acl = reinterpret_cast<PACL>(out.acl.data());
    if (!::InitializeAcl(acl, newSize, ACL_REVISION)) {
        return false;
    }

    for (const PermissionEntry& e : entries) {
        if (e.aceType == ACCESS_DENIED_ACE_TYPE &&
            !ConstructAndAddAce(acl, e.aceType, e.aceFlags, e.accessMask, e.sid)) {
            return false;
        }
    }
    // The explicit entries come first in a well-ordered list; they end at the first inherited.
    DWORD firstInherited = currentAcl != nullptr ? info.AceCount : 0;
    for (DWORD i = 0; i < firstInherited; ++i) {
        void* ace = nullptr;
        if (!::GetAce(currentAcl, i, &ace)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERITED_ACE) {
            firstInherited = i;
            break;
        }
        const PSID sid = AceSid(header);
        if (sid != nullptr && IsEqual(entries, sid)) {
            continue;
        }
        if (!::AddAce(acl, ACL_REVISION, MAXDWORD, ace, header->AceSize)) {
            return false;
        }
    }
    for (const PermissionEntry& e : entries) {
        if (e.aceType == ACCESS_ALLOWED_ACE_TYPE &&
            !ConstructAndAddAce(acl, e.aceType, e.aceFlags, e.accessMask, e.sid)) {
            return false;
        }
    }
    for (DWORD i = firstInherited; currentAcl != nullptr && i < info.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(currentAcl, i, &ace) ||
            !::AddAce(acl, ACL_REVISION, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize)) {
            return false;
        }
    }

    if (autoInherit && current != nullptr) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!::GetSecurityDescriptorControl(current, &control, &revision)) {
            return false;
        }
        if (control & SE_DACL_AUTO_INHERITED) {
            const SECURITY_DESCRIPTOR_CONTROL bits =
                SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
            if (!::SetSecurityDescriptorControl(&out.sd, bits, bits)) {
                return false;
            }
        } else if (control & SE_DACL_PROTECTED) {
            if (!::SetSecurityDescriptorControl(&out.sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
                return false;
            }
        }
    }
    return ::SetSecurityDescriptorDacl(&out.sd, TRUE, acl, FALSE) != FALSE;
}

bool UpdatePermissions(HKEY hKey, std::vector<PermissionEntry>& entries) {
    DWORD size = 0;
    if (::RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, nullptr, &size) !=
            ERROR_INSUFFICIENT_BUFFER ||
        size == 0) {
        return false;
    }
    std::vector<BYTE> current(size);
    if (::RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, current.data(), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    NewDescriptor next;
    if (!BuildSecurityDescriptor(current.data(), entries, next)) {
        return false;
    }
    return ::RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, &next.sd) == ERROR_SUCCESS;
}

} // namespace

bool ConstructAndAddAce(PACL pAcl, BYTE aceType, BYTE aceFlags, DWORD accessMask, PSID pSid) {
    if (pAcl == nullptr || pSid == nullptr || !::IsValidSid(pSid)) {
        return false;
    }
    // ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE share one layout: header, mask, identifier.
    const DWORD sidLength = ::GetLengthSid(pSid);
    const DWORD aceSize = sidLength + 8;
    std::vector<BYTE> block;
    try {
        block.assign(aceSize, 0);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory("ConstructAndAddAce");
        return false;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(block.data());
    ace->Header.AceType = aceType;
    ace->Header.AceFlags = aceFlags;
    ace->Header.AceSize = static_cast<WORD>(aceSize);
    ace->Mask = accessMask;
    if (!::CopySid(sidLength, &ace->SidStart, pSid)) {
        return false;
    }
    return ::AddAce(pAcl, ACL_REVISION, MAXDWORD, block.data(), aceSize) != FALSE;
}

bool IsEqual(const std::vector<PermissionEntry>& entries, PSID pSid) {
    for (const PermissionEntry& e : entries) {
        if (e.sid != nullptr && ::EqualSid(e.sid, pSid)) {
            return true;
        }
    }
    return false;
}

bool UpdatePermissionsOfRegistryKey(HKEY hKey, std::vector<PermissionEntry>& entries) {
    bool stored = false;
    try {
        stored = UpdatePermissions(hKey, entries);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored) {
        DPrint("\t- result: False");
        return false;
    }
    DPrint("SetPerm\\UpdatePermissionsOfRegistryKey: True");
    return true;
}

bool RegSetKeyPermission(const std::string& sKey, const std::string& sPath, std::string& sAccount,
                         std::string& sAllowDeny, const std::string& sRights, KeyView view) {
    try {
        const HKEY root = RootKey(sKey);
        if (sAccount.empty()) {
            sAccount = EnvironmentValue("username");
        }
        if (sAllowDeny.empty()) {
            sAllowDeny = "Allow";
        }
        HKEY opened = nullptr;
        if (::RegOpenKeyExA(root, sPath.c_str(), 0, READ_CONTROL | WRITE_DAC | ViewFlag(view),
                            &opened) != ERROR_SUCCESS) {
            return false;
        }
        const win32::RegistryKey key(opened);
        std::vector<PermissionEntry> entries(1);
        entries[0].accountName = sAccount;
        entries[0].accessMask = AccessMaskFromRights(sRights);
        entries[0].aceFlags = CONTAINER_INHERIT_ACE;
        entries[0].aceType =
            sAllowDeny == "Deny" ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE;
        return UpdatePermissionsOfRegistryKey(key.get(), entries);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory("RegSetKeyPermission");
        return false;
    }
}

bool GetRegKeyPermissions(const std::string& sKey, const std::string& sPath, KeyView view) {
    static const char* const accounts[] = {"", "System", "Administrators", "Power Users", "Users"};
    for (const char* name : accounts) {
        try {
            std::string account = name;
            std::string allowDeny;
            RegSetKeyPermission(sKey, sPath, account, allowDeny, "ALL", view);
        } catch (const std::bad_alloc&) {
            ReportOutOfMemory("GetRegKeyPermissions");
        }
    }
    return false;
}

} // namespace SetPerm

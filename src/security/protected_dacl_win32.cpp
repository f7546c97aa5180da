// Protected DACLs on Windows: built from well-known identifiers (account names are translated on
// localised systems), stored with the advapi32 security functions. Nothing here throws.
#include "security/protected_dacl_win32.h"
#include "security/protected_dacl.h"

#include "common/dprint.h"
#include "common/win32_text.h"

#include <aclapi.h>

#include <span>
#include <string>

namespace SetPerm {

using CommonModule::DPrint;

namespace {

struct Grant {
    WELL_KNOWN_SID_TYPE who;
    DWORD mask;
    BYTE inheritance;
};

constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr Grant kPrivateFile[] = {
    {WinLocalSystemSid, FILE_ALL_ACCESS, 0},
    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0},
};
constexpr Grant kInstallFolder[] = {
    {WinLocalSystemSid, FILE_ALL_ACCESS, kInherited},
    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kInherited},
    {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kInherited},
};
constexpr Grant kPrivateKey[] = {
    {WinLocalSystemSid, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE},
    {WinBuiltinAdministratorsSid, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE},
};

bool WellKnownSid(WELL_KNOWN_SID_TYPE who, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
    DWORD size = sizeof sid;
    return ::CreateWellKnownSid(who, nullptr, sid, &size) != FALSE;
}

bool StoreDacl(const std::string& label, const std::string& path, ProtectedObject what) {
    std::wstring wide = win32::AnsiToWide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DPrint(label + ": " + path + ": error " + std::to_string(::GetLastError()));
        return false;
    }
    // A link would carry the access list to wherever it points.
    const bool wantFolder = what == ProtectedObject::InstallFolder;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != wantFolder) {
        DPrint(label + ": " + path + ": not a plain " + (wantFolder ? "folder" : "file") +
               "; left as it is");
        return false;
    }
    std::vector<BYTE> descriptor = BuildProtectedDescriptor(what);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor.empty() ||
        !::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        DPrint(label + ": " + path + ": no security descriptor, error " +
               std::to_string(::GetLastError()));
        return false;
    }
    // On a folder the system also hands the inheritable entries down to what it holds.
    const DWORD rc =
        ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
    if (rc != ERROR_SUCCESS) {
        DPrint(label + ": " + path + ": error " + std::to_string(rc));
        return false;
    }
    return true;
}

} // namespace

std::vector<BYTE> BuildProtectedDescriptor(ProtectedObject what) {
    const std::span<const Grant> grants =
        what == ProtectedObject::InstallFolder ? std::span<const Grant>(kInstallFolder)
        : what == ProtectedObject::PrivateKey  ? std::span<const Grant>(kPrivateKey)
                                               : std::span<const Grant>(kPrivateFile);
    // Each entry: the ACE header and mask, then the identifier (SidStart is its first DWORD).
    const DWORD aceRoom = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> aclBuffer(sizeof(ACL) + grants.size() * aceRoom);
    const auto acl = reinterpret_cast<PACL>(aclBuffer.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION)) {
        return {};
    }
    for (const Grant& grant : grants) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        if (!WellKnownSid(grant.who, sid) ||
            !::AddAccessAllowedAceEx(acl, ACL_REVISION, grant.inheritance, grant.mask, sid)) {
            return {};
        }
    }
    SECURITY_DESCRIPTOR absolute{};
    if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return {};
    }
    DWORD size = 0;
    ::MakeSelfRelativeSD(&absolute, nullptr, &size);
    if (size == 0) {
        return {};
    }
    std::vector<BYTE> selfRelative(size);
    if (!::MakeSelfRelativeSD(&absolute, selfRelative.data(), &size)) {
        return {};
    }
    return selfRelative;
}

namespace {

bool ReprotectOpenObject(HANDLE object, SE_OBJECT_TYPE type, ProtectedObject what,
                         const std::string& label) {
    std::vector<BYTE> descriptor = BuildProtectedDescriptor(what);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor.empty() ||
        !::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        DPrint(label + ": no security descriptor, error " + std::to_string(::GetLastError()));
        return false;
    }
    DWORD rc = ::SetSecurityInfo(object, type,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, dacl, nullptr);
    if (rc != ERROR_SUCCESS) {
        DPrint(label + ": setting the access list failed with error " + std::to_string(rc));
        return false;
    }
    // An owner may always rewrite the list; the object's creator must not stay one.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    if (!WellKnownSid(WinBuiltinAdministratorsSid, administrators)) {
        return true;
    }
    rc = ::SetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, administrators, nullptr,
                           nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        DPrint(label + ": setting the owner failed with error " + std::to_string(rc));
    }
    return true;
}

} // namespace

bool ReprotectOpenFile(HANDLE file, const std::string& label) {
    return ReprotectOpenObject(file, SE_FILE_OBJECT, ProtectedObject::PrivateFile, label);
}

bool ReprotectOpenKey(HKEY key, const std::string& label) {
    return ReprotectOpenObject(key, SE_REGISTRY_KEY, ProtectedObject::PrivateKey, label);
}

bool ProtectInstallFolder(const std::string& path) {
    return StoreDacl("SetPerm\\ProtectInstallFolder", path, ProtectedObject::InstallFolder);
}

bool ProtectSettingsFile(const std::string& path) {
    return StoreDacl("SetPerm\\ProtectSettingsFile", path, ProtectedObject::PrivateFile);
}

} // namespace SetPerm

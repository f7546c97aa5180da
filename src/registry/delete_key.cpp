// modRegistry key deletion: the attempts, the view rule and the log lines. The platform's part
// (open, list, delete, the tool fall-backs) is behind delete_key_backend.h.
#include "registry/delete_key.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/strip.h"
#include "common/text.h"
#include "registry/delete_key_backend.h"
#include "registry/registry.h"
#include "security/set_perm.h"

#include <new>

namespace modRegistry {

using CommonModule::DPrint;

namespace {

// The registry file-mode marker of fTopKey: a settings file is no key to delete.
constexpr std::uintptr_t kFileMode = 1;

SetPerm::KeyView GrantView(store::View view) {
    switch (view) {
    case store::View::View32:
        return SetPerm::KeyView::View32;
    case store::View::View64:
        return SetPerm::KeyView::View64;
    default:
        return SetPerm::KeyView::Default;
    }
}

void ErrorBlock(long number, const std::string& description, const std::string& fullKey,
                long code) {
    DPrint("modRegistry\\fDeleteKey - VB ERROR: " + std::to_string(number) + " " + description);
    DPrint("\t- Key: " + fullKey);
    DPrint("\t- lResult (0=Success 2=Not Found): " + std::to_string(code));
}

} // namespace

void fDeleteSubkeys(std::uintptr_t hRoot, const std::string& sPath, const std::string& sRoot,
                    store::View view) {
    try {
        DPrint("modRegistry\\fDeleteSubkeys passed: " + sRoot + "\\" + sPath);
        deletion::OpenedKey key;
        if (deletion::OpenForFullAccess(hRoot, sPath, view, key) != store::kSuccess) {
            DPrint("modRegistry\\fDeleteSubkeys: Error opening key: " + sPath);
            return;
        }
        // All names first: deleting while enumerating would shift the indexes.
        const std::vector<std::string> names = deletion::SubkeyNames(key);
        for (const std::string& name : names) {
            const std::string child = sPath + "\\" + name;
            SetPerm::GetRegKeyPermissions(sRoot, child, GrantView(view));
            fDeleteSubkeys(hRoot, child, sRoot, view);
            if (!deletion::DeletesSubtreeAtOnce()) {
                deletion::DeleteSubkey(key, name);
            }
        }
        key.Close();
    } catch (const std::bad_alloc&) {
        DPrint("modRegistry\\fDeleteSubkeys - VB ERROR: 7 Out of memory");
        DPrint("\t- Key: " + sRoot + "\\" + sPath);
    }
}

long fDeleteKey(const std::string& sRoot, const std::string& sParent, const std::string& sKey,
                bool& bNotFound) {
    long result = 99;
    long code = 0;
    std::string parent = sParent;
    auto fullKey = [&] { return sRoot + "\\" + parent + "\\" + sKey; };
    try {
        const std::uintptr_t root = fTopKey(sRoot);
        if (root == 0 || root == kFileMode) {
            ErrorBlock(0, "", fullKey(), code);
            return result;
        }

        // Paths are written as the 64-bit view shows them; "Wow6432Node" names the 32-bit
        // subtree, which is reached through the 32-bit view with the node taken out (except in
        // the hives of an offline installation, "guest_...", which have no views).
        store::View view = store::View::Default;
        std::string translated = parent;
        if (CommonModule::Is64bitOS("")) {
            const std::string lower = text::ToLowerAscii(parent);
            if (lower.find("wow6432node") != std::string::npos) {
                view = store::View::View32;
                if (lower.find("guest_") == std::string::npos) {
                    translated = CommonModule::Strip(lower, "wow6432node\\");
                }
            } else {
                view = store::View::View64;
            }
        }

        bool secondAttempt = false;
        bool firstOpen = true;
        for (;;) {
            if (secondAttempt) {
                std::string owner;
                std::string grantee;
                ResetRegKeyWithSubinacl(sRoot, parent + "\\" + sKey, owner, grantee);
            }
            SetPerm::GetRegKeyPermissions(sRoot, parent + "\\" + sKey, GrantView(view));
            if (firstOpen) {
                parent = translated;
                firstOpen = false;
            }
            {
                deletion::OpenedKey parentKey;
                code = deletion::OpenForSubkeyChange(root, parent, view, parentKey);
                if (code == store::kSuccess) {
                    fDeleteSubkeys(root, parent + "\\" + sKey, sRoot, view);
                    code = deletion::DeleteSubkey(parentKey, sKey);
                    parentKey.Close();
                }
            }
            if (code == store::kSuccess || code == store::kNotFound) {
                result = 0;
                break;
            }
            result = code;
            DPrint("modRegistry\\fDeleteKey - Error:  " + std::to_string(code));
            DPrint("\tKey:  " + fullKey());
            if (!secondAttempt) {
                DPrint("\t- Attempting second run using subinacl...");
                secondAttempt = true;
                continue;
            }
            deletion::DeleteWithRegExe(fullKey());
            break;
        }

        if (code == store::kNotFound) {
            bNotFound = true;
        }
        DPrint("modRegistry\\fDeleteKey: ");
        DPrint("\t- Key: " + fullKey());
        if (code == store::kSuccess) {
            DPrint("\t- lResult: " + std::to_string(code) + " SUCCESS");
        } else if (code == store::kNotFound) {
            DPrint("\t- lResult: " + std::to_string(code) + " NOT FOUND");
        } else {
            DPrint("\t- lResult (0=Success 2=Not Found): " + std::to_string(code));
        }
    } catch (const std::bad_alloc&) {
        ErrorBlock(7, "Out of memory", fullKey(), code);
    }
    return result;
}

} // namespace modRegistry

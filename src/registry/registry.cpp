// modRegistry: root names, type letters, the 32/64-bit view rules, file mode and the diagnostic
// lines. The platform's registry (or the POSIX store standing in for it) is behind
// registry_store.h; this file decides what to open and how to read what comes back.
#include "registry/registry.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/strip.h"
#include "common/text.h"
#include "common/vb_error.h"
#include "registry/registry_store.h"
#include "settings/ini_file.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace modRegistry {

using CommonModule::DPrint;

namespace {

constexpr std::uintptr_t kFileMode = 1;

// Writes go through the 64-bit view with the path as given: a "Wow6432Node" path reaches the
// same physical key that fReadValue opens through the 32-bit view.
store::View WriteView() {
    return CommonModule::Is64bitOS("") ? store::View::View64 : store::View::Default;
}

std::string ResultLine(long code) {
    return "\t- lResult (0 is successful): " + std::to_string(code);
}

void LogWriteError(const VbError& error, const std::string& sRoot, const std::string& sKey,
                   const std::string& sValueName, long code) {
    DPrint("modRegistry\\fWriteValue - VB ERROR: " + std::to_string(error.number) + " " +
           error.description);
    DPrint("\t- Passed Key: " + sRoot + "\\" + sKey);
    DPrint("\t- Passed Value: " + sValueName);
    DPrint(ResultLine(code));
}

// The value as a 16-bit integer, as the language's integer conversion makes it: numbers round
// half to even, text must be a number, anything outside -32768..32767 overflows.
Outcome<std::int16_t> ToInteger(const RegValue& value) {
    double number = 0;
    if (const auto* b = std::get_if<bool>(&value)) {
        number = *b ? -1 : 0;
    } else if (const auto* n = std::get_if<std::int32_t>(&value)) {
        number = *n;
    } else {
        const std::string& s = std::get<std::string>(value);
        const auto first = s.find_first_not_of(" \t");
        if (first == std::string::npos ||
            s.find_first_not_of("0123456789+-.eE \t") != std::string::npos) {
            return vb_errors::TypeMismatch();
        }
        const std::string trimmed = s.substr(first, s.find_last_not_of(" \t") + 1 - first);
        char* end = nullptr;
        number = std::strtod(trimmed.c_str(), &end);
        if (end != trimmed.c_str() + trimmed.size()) {
            return vb_errors::TypeMismatch();
        }
    }
    number = std::nearbyint(number);
    if (!(number >= -32768 && number <= 32767)) {
        return vb_errors::Overflow();
    }
    return static_cast<std::int16_t>(number);
}

std::string LittleEndian32(std::uint32_t v) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    }
    return bytes;
}

// Up to four bytes, little-endian; missing bytes count as zero.
std::uint32_t FromLittleEndian(std::string_view bytes) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
        v |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    }
    return v;
}

// A string or list value: ask for the size, then read into a buffer that holds it.
long QueryText(const store::Key& key, const std::string& name, std::string& text) {
    std::uint32_t type = 0;
    std::string data;
    std::size_t size = 0;
    long code = store::QueryValue(key, name, 0, type, data, size);
    if (code == store::kMoreData) {
        code = store::QueryValue(key, name, size, type, data, size);
    }
    if (code == store::kSuccess) {
        // Without the terminating zero; no data at all is the empty text.
        text = data.empty() ? std::string() : data.substr(0, data.size() - 1);
    }
    return code;
}

long QueryFixed(const store::Key& key, const std::string& name, std::size_t size,
                std::uint32_t& value) {
    std::uint32_t type = 0;
    std::string data;
    std::size_t got = 0;
    const long code = store::QueryValue(key, name, size, type, data, got);
    if (code == store::kSuccess) {
        value = FromLittleEndian(data);
    }
    return code;
}

} // namespace

std::string RegValueText(const RegValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        return *s;
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        return *b ? "True" : "False";
    }
    return std::to_string(std::get<std::int32_t>(value));
}

std::uintptr_t fTopKey(const std::string& sRoot) {
    static const struct {
        std::string_view name;
        std::uintptr_t key;
    } roots[] = {
        {"HKCU", store::kCurrentUser},   {"HKLM", store::kLocalMachine},
        {"HKU", store::kUsers},          {"HKDD", store::kDynData},
        {"HKCC", store::kCurrentConfig}, {"HKCR", store::kClassesRoot},
    };
    const std::string upper = text::ToUpperAscii(sRoot);
    for (const auto& r : roots) {
        if (upper == r.name) {
            return r.key;
        }
    }
    return CommonModule::DoesFileExist(sRoot) ? kFileMode : 0;
}

long fReadValue(const std::string& sRoot, const std::string& sKey, const std::string& sValueName,
                const std::string& sType, const RegValue& vDefault, RegValue& vResult) {
    vResult = vDefault;
    const std::uintptr_t root = fTopKey(sRoot);
    if (root == 0) {
        return 99;
    }
    const std::string type = text::ToUpperAscii(sType);
    if (root == kFileMode) {
        if (type == "S") {
            const std::string value = CommonModule::ReadINI(sRoot, sKey, sValueName);
            vResult = value.empty() ? RegValueText(vDefault) : value;
        }
        return 0;
    }

    // Paths are written as the 64-bit view shows them; "Wow6432Node" names the 32-bit subtree.
    std::string path = sKey;
    store::View view = store::View::Default;
    if (CommonModule::Is64bitOS("")) {
        const std::string lower = text::ToLowerAscii(sKey);
        if (lower.find("wow6432node") != std::string::npos) {
            // Hives of an offline installation have no views: their paths are never translated.
            if (lower.find("guest_") == std::string::npos) {
                path = CommonModule::Strip(lower, "wow6432node\\");
            }
            view = store::View::View32;
        } else {
            view = store::View::View64;
        }
    }

    store::Key key;
    long code = store::OpenKey(root, path, view, key);
    if (code != store::kSuccess) {
        return code;
    }
    if (type == "S" || type == "M") {
        std::string text;
        code = QueryText(key, sValueName, text);
        if (code == store::kSuccess) {
            vResult = std::move(text);
        }
    } else if (type == "B") {
        std::uint32_t v = 0;
        code = QueryFixed(key, sValueName, 2, v);
        if (code == store::kSuccess) {
            vResult = (v & 0xffff) != 0;
        }
    } else if (type == "D") {
        std::uint32_t v = 0;
        code = QueryFixed(key, sValueName, 4, v);
        if (code == store::kSuccess) {
            vResult = static_cast<std::int32_t>(v);
        }
    }
    if (code != store::kSuccess) {
        key.Close();
        return code;
    }
    code = key.Close();

    DPrint("modRegistry\\fReadValue: ");
    DPrint("\t- Passed Key: " + sRoot + "\\" + path);
    DPrint("\t- Passed Value: " + sValueName);
    DPrint("\t- Returned Value: " + RegValueText(vResult));
    DPrint(ResultLine(code));
    return code;
}

long fWriteValue(const std::string& sRoot, const std::string& sKey, const std::string& sValueName,
                 const std::string& sType, const RegValue& vValue) {
    long code = 99;
    const std::uintptr_t root = fTopKey(sRoot);
    const std::string type = text::ToUpperAscii(sType);
    if (root == 0) {
        LogWriteError({}, sRoot, sKey, sValueName, code);
        return code;
    }
    if (root == kFileMode) {
        if (type != "S") {
            LogWriteError({}, sRoot, sKey, sValueName, code);
            return code;
        }
        CommonModule::WriteINI(sRoot, sKey, sValueName, RegValueText(vValue));
        return 0;
    }

    store::Key key;
    code = store::CreateKey(root, sKey, WriteView(), key);
    if (code != store::kSuccess) {
        LogWriteError({}, sRoot, sKey, sValueName, code);
        return code;
    }

    bool write = true;
    std::uint32_t regType = 0;
    std::string data;
    if (type == "S" || type == "E") {
        regType = type == "S" ? store::kString : store::kExpandString;
        data = RegValueText(vValue);
        data += '\0';
    } else if (type == "D") {
        const auto number = ToInteger(vValue);
        if (!number) {
            key.Close();
            LogWriteError(number.error(), sRoot, sKey, sValueName, code);
            return code;
        }
        regType = store::kDword;
        data =
            LittleEndian32(static_cast<std::uint32_t>(static_cast<std::int32_t>(number.value())));
    } else if (type == "M") {
        regType = store::kMultiString;
        RegValue present;
        const long readCode = fReadValue(sRoot, sKey, sValueName, "M", std::string(), present);
        if (readCode == 0) {
            // Keep the present entries in order, dropping empty ones, and append the value.
            const std::string& list = std::get<std::string>(present);
            std::size_t from = 0;
            while (from <= list.size()) {
                std::size_t to = list.find('\0', from);
                if (to == std::string::npos) {
                    to = list.size();
                }
                if (to > from) {
                    data.append(list, from, to - from);
                    data += '\0';
                }
                from = to + 1;
            }
        }
        data += RegValueText(vValue);
        data.append(2, '\0');
    } else {
        write = false; // "B" and unknown letters write nothing
    }

    if (write) {
        code = store::SetValue(key, sValueName, regType, data);
        if (code != store::kSuccess) {
            key.Close();
            DPrint("modRegistry\\fWriteValue: ");
            DPrint("\t- Passed Key: " + sRoot + "\\" + sKey);
            DPrint("\t- Passed Value: " + sValueName);
            DPrint(ResultLine(code));
            return code;
        }
    }
    return key.Close();
}

long fDeleteValue(const std::string& sRoot, const std::string& sKey,
                  const std::string& sValueName) {
    const std::uintptr_t root = fTopKey(sRoot);
    if (root == 0 || root == kFileMode) {
        return 99;
    }
    store::Key key;
    long code = store::CreateKey(root, sKey, WriteView(), key);
    if (code == store::kSuccess) {
        code = store::DeleteValue(key, sValueName);
    }
    const long closed = key.Close();
    return code != store::kSuccess ? code : closed;
}

} // namespace modRegistry

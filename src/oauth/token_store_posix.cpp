// POSIX: the values live in the registry store (a root-only 0600 file), reached through the
// store's own routines so that no value is logged.
#include "oauth/token_store.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "registry/registry_store.h"

namespace oauth::store {

namespace {

namespace rs = modRegistry::store;

// The view fReadValue uses for a path outside Wow6432Node.
rs::View KeyView() {
    return CommonModule::Is64bitOS("") ? rs::View::View64 : rs::View::Default;
}

bool Save(const char* name, std::uint32_t type, const std::string& data) {
    rs::Key key;
    long code = rs::CreateKey(rs::kLocalMachine, kOAuthKey, KeyView(), key);
    if (code == rs::kSuccess) {
        code = rs::SetValue(key, name, type, data);
    }
    if (code != rs::kSuccess) {
        CommonModule::DPrint(std::string("OAuth: storing ") + name + " failed with error " +
                             std::to_string(code));
        return false;
    }
    return true;
}

std::optional<std::string> Load(const char* name, std::uint32_t wanted) {
    rs::Key key;
    if (rs::OpenKey(rs::kLocalMachine, kOAuthKey, KeyView(), key) != rs::kSuccess) {
        return std::nullopt;
    }
    std::uint32_t type = 0;
    std::string data;
    std::size_t size = 0;
    long code = rs::QueryValue(key, name, 0, type, data, size);
    if (code == rs::kMoreData) {
        code = rs::QueryValue(key, name, size, type, data, size);
    }
    if (code != rs::kSuccess || type != wanted || data.empty()) {
        return std::nullopt;
    }
    return data;
}

} // namespace

bool SaveRefreshToken(const std::string& token) {
    return Save(kRefreshTokenValue, rs::kBinary, token);
}

std::optional<std::string> LoadRefreshToken() {
    return Load(kRefreshTokenValue, rs::kBinary);
}

bool SaveRefreshedAt(const std::string& isoTime) {
    // With its terminating zero, as every text value of the registry.
    return Save(kRefreshedAtValue, rs::kString, isoTime + std::string(1, '\0'));
}

std::optional<std::string> LoadRefreshedAt() {
    auto text = Load(kRefreshedAtValue, rs::kString);
    while (text && !text->empty() && text->back() == '\0') {
        text->pop_back();
    }
    return text;
}

void DeleteStoredValues() {
    rs::Key key;
    if (rs::OpenKey(rs::kLocalMachine, kOAuthKey, KeyView(), key) != rs::kSuccess) {
        return;
    }
    key = rs::Key();
    if (rs::CreateKey(rs::kLocalMachine, kOAuthKey, KeyView(), key) == rs::kSuccess) {
        rs::DeleteValue(key, kRefreshTokenValue);
        rs::DeleteValue(key, kRefreshedAtValue);
    }
}

} // namespace oauth::store

#include "app/settings/settings_store.h"

#include "app/settings/keyring.h"
#include "base/app_state.h"
#include "base/json_safe.h"
#include "base/paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFileName[] = "settings.json";
// The file holds five short values; anything much larger is not ours and is
// not read (reading it would only cost memory and start-up time).
constexpr off_t kMaxFileBytes = 1 << 20;

enum class ReadResult { kMissing, kDefective, kOk };

// Reads and parses the file without creating it. Values of the wrong type
// read as their defaults one by one; a file that is not a JSON object gives
// all defaults.
ReadResult ReadSettings(const std::string& path, StoredSettings& out) {
    out = StoredSettings();
    if (path.empty()) return ReadResult::kDefective;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kDefective;
    if (st.st_size > kMaxFileBytes) return ReadResult::kDefective;
    return ParseSettings(ReadWholeFile(path), out) ? ReadResult::kOk : ReadResult::kDefective;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces `path` with `data` so that a reader sees either the old or the new
// file, never a partial one. The temporary file is created 0600 by mkstemp,
// so the password is never readable by others, not even for a moment.
bool WriteFileAtomic(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(&tmp[0]);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

// Decimal text to integer the way the page's number is read: leading blanks,
// an optional sign, then the leading digits; no digits give 0. Saturates
// instead of overflowing.
int LeadingInt(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

}  // namespace

bool ParseSettings(const std::string& text, StoredSettings& out) {
    out = StoredSettings();
    Json::Value root;
    if (!json_safe::Parse(text, root) || !root.isObject()) return false;
    out.unit = json_safe::Int(root, "unit");
    out.lang = json_safe::Int(root, "lang");
    out.e = json_safe::String(root, "e");
    out.p = json_safe::String(root, "p");
    out.t = json_safe::String(root, "t");
    const Json::Value& w = json_safe::Member(root, "window");
    const Json::Value& maximized = json_safe::Member(w, "maximized");
    if (w.isObject())
        out.window = CheckedPlacement(json_safe::Int(w, "x"), json_safe::Int(w, "y"), json_safe::Int(w, "width"),
                                      json_safe::Int(w, "height"), maximized.isBool() && maximized.asBool());
    return true;
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

std::string SettingsStore::DefaultPath() {
    std::string folder = ConfigFolder();
    return folder.empty() ? std::string() : folder + "/" + kFileName;
}

StoredSettings SettingsStore::Load() const {
    StoredSettings s;
    if (ReadSettings(path_, s) == ReadResult::kMissing) WriteFileAtomic(path_, "{}\n");
    return s;
}

bool SettingsStore::Save(const StoredSettings& s) const {
    Json::Value root(Json::objectValue);
    root["unit"] = s.unit;
    root["lang"] = s.lang;
    root["e"] = s.e;
    // Kept in the keyring when there is one: then not written here at all.
    if (!s.p.empty()) root["p"] = s.p;
    if (!s.t.empty()) root["t"] = s.t;
    if (s.window.known) {
        Json::Value& w = root["window"];
        w["x"] = s.window.x;
        w["y"] = s.window.y;
        w["width"] = s.window.width;
        w["height"] = s.window.height;
        w["maximized"] = s.window.maximized;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    return WriteFileAtomic(path_, Json::writeString(builder, root) + "\n");
}

void LoadSettings() {
    StoredSettings s = SettingsStore().Load();
    // Only 0 and 1 are unit systems; anything else would make some figures
    // metric and others imperial, so it reads as metric.
    AppState.unit = s.unit == 1 ? 1 : 0;
    AppState.language = s.lang == 1 ? "CHT" : "ENG";
}

int LanguageIndex() {
    return AppState.language == "CHT" ? 1 : 0;
}

int ApplySettingsSave(const std::string& lang_value, const std::string& unit_i_value) {
    int lang = LeadingInt(lang_value);
    int result = lang != LanguageIndex() ? 1 : 0;
    int32_t unit = unit_i_value == "1" ? 1 : 0;
    if (unit != AppState.unit) result += 2;
    if (result == 0) return 0;

    AppState.language = lang == 1 ? "CHT" : "ENG";
    AppState.unit = unit;
    SettingsStore store;
    StoredSettings s;
    ReadSettings(store.path(), s);  // keeps the remembered sign-in
    s.lang = lang;
    s.unit = unit;
    store.Save(s);  // a failed write is not reported; the new settings hold for this run
    return result;
}

StoredSettings LoadRememberedSignInFromFile() {
    StoredSettings s = SettingsStore().Load();
    AppState.email = s.e;
    AppState.password = s.p;
    AppState.token = s.t;
    return s;
}

KeyringSignIn AskKeyringForSignIn(const StoredSettings& from_file) {
    KeyringSignIn k;
    if (!keyring::Available()) return k;
    if (!from_file.p.empty() || !from_file.t.empty()) {
        // Written while no keyring answered: moved into it (the file is
        // rewritten without them by ApplyKeyringSignIn).
        k.moved = keyring::Store(from_file.p, from_file.t);
        k.answered = k.moved;
        k.password = from_file.p;
        k.token = from_file.t;
        return k;
    }
    k.answered = keyring::Load(k.password, k.token);
    return k;
}

bool ApplyKeyringSignIn(const KeyringSignIn& k) {
    if (!k.answered) return false;
    if (k.moved) {
        // The file loses them only while it still holds what was moved (it
        // may have been written since); the old file is replaced, not kept.
        SettingsStore store;
        StoredSettings s;
        if (ReadSettings(store.path(), s) == ReadResult::kOk && s.p == k.password && s.t == k.token) {
            s.p.clear();
            s.t.clear();
            store.Save(s);
        }
        return false;
    }
    AppState.password = k.password;
    AppState.token = k.token;
    return true;
}

void LoadRememberedSignIn() {
    ApplyKeyringSignIn(AskKeyringForSignIn(LoadRememberedSignInFromFile()));
}

bool SaveRememberedSignIn() {
    SettingsStore store;
    StoredSettings s;
    ReadSettings(store.path(), s);  // keeps "unit" and "lang"
    s.e = AppState.email;
    s.p = AppState.password;
    s.t = AppState.token;
    if (keyring::Available()) {
        // With a keyring the secrets go there or nowhere: when it refuses (a
        // locked keyring without a prompt, or no answer in time), the
        // password is not remembered and the token lasts for this run only
        // (it stays in AppState).
        keyring::Store(s.p, s.t);
        s.p.clear();
        s.t.clear();
    }
    return store.Save(s);
}

WindowPlacement LoadWindowPlacement() {
    StoredSettings s;
    ReadSettings(SettingsStore().path(), s);
    return s.window;
}

bool SaveWindowPlacement(const WindowPlacement& placement) {
    SettingsStore store;
    StoredSettings s;
    ReadSettings(store.path(), s);  // keeps every other value
    s.window = placement;
    return store.Save(s);
}

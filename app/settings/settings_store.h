// The per-user settings file: "unit", "lang", the remembered sign-in
// "e", "p", "t" and the main window's placement "window". It lives in ConfigFolder() as "settings.json", is written
// atomically (temporary file, then rename) with mode 0600 because it may
// hold a password and a token, and falls back to defaults when it is
// missing, unreadable, corrupt or of the wrong types.
//
// When the desktop's keyring answers (app/settings/keyring.h), the password
// and token live there instead and the file keeps only "unit", "lang" and
// "e"; "p" and "t" are written only when not empty.
#pragma once

#include <string>

#include "app/settings/window_placement.h"

struct StoredSettings {
    int unit = 0;  // 0 metric, 1 imperial
    int lang = 0;  // 1 = "CHT", anything else = "ENG"
    std::string e, p, t;
    // "window": {"x", "y", "width", "height", "maximized"}, the main
    // window's last frame; written only when known.
    WindowPlacement window;
};

// The settings from the file's text. Values of the wrong type read as their
// defaults one by one; false (and all defaults) when the text is not a JSON
// object.
bool ParseSettings(const std::string& text, StoredSettings& out);

class SettingsStore {
public:
    // `path` of the settings file; the default is ConfigFolder()/settings.json.
    explicit SettingsStore(std::string path = DefaultPath());
    static std::string DefaultPath();

    // Reads the file. A missing file is created (empty object) so that it
    // exists afterwards; any defect gives the defaults.
    StoredSettings Load() const;
    // Replaces the file with `s`. Returns false when it could not be written.
    bool Save(const StoredSettings& s) const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Start-up: loads "unit" and "lang" into AppState (language "CHT" for lang 1,
// else "ENG").
void LoadSettings();

// The Settings dialog's "save": `lang_value` is the value of "langauge",
// `unit_i_value` that of "unit_i". Returns 0 nothing changed, 1 language
// changed, 2 unit changed, 3 both; when non-zero, AppState and the file are
// updated (remembered sign-in kept). Writes nothing when 0.
int ApplySettingsSave(const std::string& lang_value, const std::string& unit_i_value);

// Index of AppState.language: 1 for "CHT", 0 otherwise.
int LanguageIndex();

// The remembered sign-in, read into / written from AppState.email,
// AppState.password and AppState.token: the password and token in the
// keyring when one answers, else in the file. Loading with a keyring moves a
// password or token found in the file into the keyring and rewrites the
// file without them. Both wait for the keyring (at most its time-outs, see
// keyring.h): the UI thread asks it off the UI thread (below, or WaitOffUi).
void LoadRememberedSignIn();
// Saving with a keyring present never writes the password or token to the
// file: when the keyring refuses them, the password is not remembered and
// the token lasts for this run only. The e-mail is always written.
bool SaveRememberedSignIn();

// LoadRememberedSignIn in three steps, for a caller that must not wait for
// the keyring: the file (UI thread), the keyring (any thread), the answer
// (UI thread).
struct KeyringSignIn {
    bool answered = false;  // a keyring answered: password and token are its values
    bool moved = false;     // they are the file's, now moved into the keyring
    std::string password, token;
};
// Reads the file into AppState.email, .password and .token; returns it.
StoredSettings LoadRememberedSignInFromFile();
// Asks the keyring: loads from it, or moves the file's password and token
// into it. Not answered when there is no keyring, it refused or timed out.
KeyringSignIn AskKeyringForSignIn(const StoredSettings& from_file);
// Takes the answer: a load goes into AppState.password and .token (returns
// true); a move rewrites the file without the password and token while it
// still holds them (AppState keeps them).
bool ApplyKeyringSignIn(const KeyringSignIn& k);

// The main window's stored placement (unknown when the file has none), and
// storing it with every other value kept.
WindowPlacement LoadWindowPlacement();
bool SaveWindowPlacement(const WindowPlacement& placement);

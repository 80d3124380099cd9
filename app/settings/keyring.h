// The remembered password and token in the desktop's keyring: the Secret
// Service on the session bus (the desktop's keyring daemon), through
// libsecret, under the program's own schema "com.vorta.pc-tool.SignIn"
// (attribute "key": "p" for the password, "t" for the token).
//
// Only a Secret Service that is running counts: the session bus is looked
// for where the desktop puts it (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus) and is never started, and a keyring daemon is never
// started through it, so a bare X server or a headless machine answers "no
// keyring" at once. An empty DBUS_SESSION_BUS_ADDRESS means no session bus.
//
// A keyring can keep a caller waiting for as long as its unlock prompt is
// up, or for ever when the service hangs: every call here gives up after its
// time-out and then counts as refused. The calls block their thread (any
// thread; each waits on a main context of its own) and are meant to run off
// the UI thread.
#pragma once

#include <string>

namespace keyring {

// How long a load and a store wait for the keyring, in milliseconds.
constexpr int kLoadTimeoutMs = 30000;
constexpr int kStoreTimeoutMs = 10000;

// Whether a Secret Service answers on the session bus now.
bool Available();

// Stores both values, replacing what the keyring held; an empty value
// removes its item. False when the keyring refused either or did not answer
// within `timeout_ms` in all.
bool Store(const std::string& password, const std::string& token, int timeout_ms = kStoreTimeoutMs);

// Reads both values; a value the keyring does not hold reads as empty.
// False (and both empty) when the keyring could not be asked or did not
// answer within `timeout_ms` in all.
bool Load(std::string& password, std::string& token, int timeout_ms = kLoadTimeoutMs);

}  // namespace keyring

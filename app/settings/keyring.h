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
#pragma once

#include <string>

namespace keyring {

// Whether a Secret Service answers on the session bus now.
bool Available();

// Stores both values, replacing what the keyring held; an empty value
// removes its item. False when the keyring refused either.
bool Store(const std::string& password, const std::string& token);

// Reads both values; a value the keyring does not hold reads as empty.
// False when the keyring could not be asked.
bool Load(std::string& password, std::string& token);

}  // namespace keyring

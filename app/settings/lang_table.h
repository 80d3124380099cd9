// The localisation table "string.json": message key -> language code -> text.
#pragma once

#include <string>

// Loads the table from `path`. A missing, unreadable or invalid file leaves an
// empty table, in which every lookup gives an empty text. Returns whether the
// file was loaded. Called once at start-up; sets AppState.language to "ENG".
bool LoadLangTable(const std::string& path);
// The same from the file's text.
bool LoadLangTableText(const std::string& text);

// Text of `key` in AppState.language (UTF-8); empty when the key, the
// language or a string value is missing.
std::string GetLangText(const std::string& key);

// Text of `key` in the given language, for tests and tools.
std::string GetLangTextIn(const std::string& key, const std::string& language);

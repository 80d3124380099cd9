// Text pieces shared by the export writers: whatever bytes a dive log holds,
// the files come out as valid UTF-8, and numbers are written with a decimal
// point whatever the process's locale.
#pragma once

#include <json/value.h>

#include <string>

namespace vorta_divelog {

// `text` as valid UTF-8: every byte that does not start a well-formed
// sequence (overlong forms, surrogates, code points past U+10FFFF included)
// becomes U+FFFD.
std::string ValidUtf8(const std::string& text);

// `text` as XML 1.0 character data or attribute value: valid UTF-8, the
// five markup characters escaped, and the characters XML cannot hold at all
// (controls other than tab, line feed and carriage return; U+FFFE, U+FFFF)
// dropped.
std::string XmlText(const std::string& text);

// `value` with at most `decimals` digits after the point, trailing zeros
// dropped ("12.5", "300", "0.012"); never "-0". The caller makes sure the
// value is finite.
std::string Decimal(double value, int decimals);

// A number held as text in member `key` of `obj`, when there is one there
// (see ReadTextNumber); false for a missing member, another type, or text
// that holds no number.
bool LoggedNumber(const Json::Value& obj, const char* key, double& out);

}  // namespace vorta_divelog

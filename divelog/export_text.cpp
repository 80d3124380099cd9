#include "divelog/export_text.h"

#include <charconv>
#include <cmath>

#include "base/json_safe.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at `p` (1 to 4), with its code
// point in `cp`; 0 when the bytes there are not one.
size_t Sequence(const unsigned char* p, const unsigned char* end, char32_t& cp) {
    const unsigned char b = *p;
    size_t n = 0;
    char32_t min = 0;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

template <typename Emit>
void ForEachCharacter(const std::string& text, Emit emit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        char32_t cp = 0;
        const size_t n = Sequence(p, end, cp);
        if (n == 0) {
            emit(0xFFFD, kReplacement, 3);
            ++p;
        } else {
            emit(cp, reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&out](char32_t, const char* bytes, size_t n) { out.append(bytes, n); });
    return out;
}

std::string XmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&out](char32_t cp, const char* bytes, size_t n) {
        switch (cp) {
            case '&': out += "&amp;"; return;
            case '<': out += "&lt;"; return;
            case '>': out += "&gt;"; return;
            case '"': out += "&quot;"; return;
            case '\'': out += "&apos;"; return;
            default: break;
        }
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF) return;
        out.append(bytes, n);
    });
    return out;
}

std::string Decimal(double value, int decimals) {
    char buf[400];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return "0";
    std::string text(buf, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

bool LoggedNumber(const Json::Value& obj, const char* key, double& out) {
    const Json::Value& v = json_safe::Member(obj, key);
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!v.isString() || !v.getString(&begin, &end) || !begin) return false;
    return ReadTextNumber(begin, end, out);
}

}  // namespace vorta_divelog

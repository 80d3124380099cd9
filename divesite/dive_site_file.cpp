#include "divesite/dive_site_file.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tinyxml.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/file_write.h"
#include "browser/map_script.h"

namespace vorta_divesite {

namespace {

constexpr const char* kRootName = "vorta_dive_site";
constexpr const char* kTypeNames[3] = {"scuba", "freedive", "gauge"};

// Bytes the parser may read past the end of the text (see ParseSiteFile).
constexpr size_t kParserOverrun = 8;

bool IsBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// Name characters as the parser reads them in UTF-8: every byte from 127 up
// counts as a letter.
bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 127;
}
bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

// Walks a text the way the parser will, without building anything. Where
// the parser reads characters (text, quoted attribute values) it takes a
// UTF-8 lead byte and the bytes its length promises in one step, whatever
// they are, so a '<' or a quote right after a stray lead byte is no markup
// to it; the walk steps the same way, or a crafted file could hide closing
// tags from the parser that the walk counts, and nest deeper than it sees.
// Comments, CDATA sections and other markup are read byte by byte.
class ShapeScan {
public:
    explicit ShapeScan(const std::string& text) : t_(text), n_(text.size()) {}

    SiteFileShape Run() {
        while (i_ < n_ && !stop_) {
            if (At() != '<') {
                Text();
            } else if (Starts("<!--")) {
                Node();
                SkipPast("-->", 4);
            } else if (Starts("<![CDATA[")) {
                Node();
                SkipPast("]]>", 9);
            } else if (Starts("</") && depth_ > 0) {
                --depth_;
                SkipPast(">", 2);
            } else if (StartsNoCase("<?xml")) {
                Node();
                Declaration();
            } else if (i_ + 1 < n_ && IsNameStart(At(1))) {
                Node();
                Element();
            } else {
                Node();  // anything else is read up to its first '>'
                SkipPast(">", 1);
            }
        }
        return shape_;
    }

private:
    unsigned char At(size_t k = 0) const { return i_ + k < n_ ? static_cast<unsigned char>(t_[i_ + k]) : 0; }
    bool Starts(const char* s) const { return t_.compare(i_, std::strlen(s), s) == 0; }
    bool StartsNoCase(const char* s) const {
        const size_t len = std::strlen(s);
        return i_ + len <= n_ && strncasecmp(t_.c_str() + i_, s, len) == 0;
    }
    void SkipPast(const char* mark, size_t from) {
        const size_t at = t_.find(mark, i_ + from);
        i_ = at == std::string::npos ? n_ : at + std::strlen(mark);
    }
    // One character as the parser reads it where it reads text.
    void StepChar() {
        const unsigned char c = At();
        i_ += c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 1;
    }
    void SkipBlanks() {
        while (i_ < n_ && IsBlank(At())) ++i_;
    }
    void Node() {
        if (shape_.nodes <= kMaxSiteFileNodes) ++shape_.nodes;
    }

    void Text() {
        bool blank = true;
        while (i_ < n_ && At() != '<') {
            if (!IsBlank(At())) blank = false;
            StepChar();
        }
        if (!blank) Node();
    }

    // name, blanks, '=', blanks, value; false where the parser gives up.
    bool Attribute() {
        if (IsNameStart(At()))
            while (i_ < n_ && IsNameChar(At())) ++i_;
        SkipBlanks();
        if (At() != '=') return false;
        ++i_;
        SkipBlanks();
        const unsigned char quote = At();
        if (quote == '"' || quote == '\'') {
            ++i_;
            while (i_ < n_ && At() != quote) StepChar();
            if (i_ >= n_) return false;
            ++i_;
            return true;
        }
        while (i_ < n_ && !IsBlank(At()) && At() != '/' && At() != '>') {
            if (At() == '"' || At() == '\'') return false;
            ++i_;
        }
        return true;
    }

    void Element() {
        ++i_;  // '<'
        while (i_ < n_ && IsNameChar(At())) ++i_;
        if (++depth_ > shape_.depth) shape_.depth = depth_;
        size_t attributes = 0;
        for (;;) {
            SkipBlanks();
            if (i_ >= n_) return;
            if (At() == '/') {
                // An empty element; anything but '>' after the slash ends the parse.
                if (At(1) != '>') stop_ = true;
                --depth_;
                i_ += 2;
                return;
            }
            if (At() == '>') {
                ++i_;
                return;
            }
            if (!Attribute()) {
                stop_ = true;
                return;
            }
            Node();
            if (++attributes > shape_.attributes) shape_.attributes = attributes;
        }
    }

    // The parser reads the values of "version", "encoding" and "standalone"
    // as attributes and steps over anything else up to a blank or '>'.
    void Declaration() {
        i_ += 5;
        while (i_ < n_) {
            if (At() == '>') {
                ++i_;
                return;
            }
            SkipBlanks();
            if (StartsNoCase("version") || StartsNoCase("encoding") || StartsNoCase("standalone")) {
                if (!Attribute()) {
                    stop_ = true;
                    return;
                }
            } else {
                while (i_ < n_ && At() != '>' && !IsBlank(At())) ++i_;
            }
        }
    }

    const std::string& t_;
    const size_t n_;
    size_t i_ = 0;
    size_t depth_ = 0;
    bool stop_ = false;  // the parser stops here with an error
    SiteFileShape shape_;
};

// Line ends as the library's own file loader leaves them: CR LF and a lone
// CR become LF.
std::string NormalizeLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
            continue;
        }
        out += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

std::string AttributeText(const TiXmlElement& e, const char* name) {
    const char* v = e.Attribute(name);
    return v ? std::string(v) : std::string();
}

// The sites of a parsed document; false when it has no root element.
bool ReadDocument(const TiXmlDocument& doc, DiveSiteLists& out) {
    const TiXmlElement* root = doc.FirstChildElement();
    if (root == nullptr) return false;
    for (int list = 0; list < 3; ++list) {
        const TiXmlElement* type = root->FirstChildElement(kTypeNames[list]);
        if (type == nullptr) continue;
        for (const TiXmlElement* w = type->FirstChildElement("waypoint"); w != nullptr;
             w = w->NextSiblingElement("waypoint")) {
            const double lat = ParseDegrees(AttributeText(*w, "lat"));
            const double lng = ParseDegrees(AttributeText(*w, "lng"));
            // A position off the globe is refused here rather than stored,
            // shown, exported and written to the dive computer.
            if (!vorta_browser::IsOnGlobe(lat, lng)) continue;
            // Beyond 64 the site is dropped; the rest is still read.
            out.Append(list, MakeDiveSite(TypeOfList(list), KeepUtf8(AttributeText(*w, "name")), lat, lng));
        }
    }
    return true;
}

// Reads a regular file of at most `limit` bytes whole; false otherwise.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& out) {
    // O_NONBLOCK: a FIFO picked by mistake must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<unsigned long long>(st.st_size) <= limit;
    std::string data;
    if (ok) {
        data.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, &data[got], data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        // A file that shrank while being read is taken as far as it went;
        // one that grew is refused rather than cut.
        char extra;
        ok = got == data.size() ? ::read(fd, &extra, 1) == 0 : true;
        data.resize(got);
    }
    ::close(fd);
    if (ok) out.swap(data);
    return ok;
}

}  // namespace

std::string PrintSiteFile(const DiveSiteLists& lists) {
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* root = new TiXmlElement(kRootName);
    doc.LinkEndChild(root);
    for (int list = 0; list < 3; ++list) {
        auto* type = new TiXmlElement(kTypeNames[list]);
        root->LinkEndChild(type);
        for (const DiveSite& site : lists.list(list)) {
            auto* w = new TiXmlElement("waypoint");
            w->SetAttribute("name", KeepUtf8(site.Name()));
            w->SetAttribute("lat", vorta_browser::FormatCoordinateE6(site.lat_e6));
            w->SetAttribute("lng", vorta_browser::FormatCoordinateE6(site.lng_e6));
            type->LinkEndChild(w);
        }
    }
    // The library's own file printer, into memory.
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr) return std::string();
    const bool printed = doc.SaveFile(out);
    const bool closed = std::fclose(out) == 0;
    std::string text = printed && closed && buffer ? std::string(buffer, size) : std::string();
    std::free(buffer);
    return text;
}

bool ExportSiteFile(const std::string& path, const DiveSiteLists& lists) {
    const std::string bytes = PrintSiteFile(lists);
    if (bytes.empty() || path.empty()) return false;
    // Replaced whole: a failed write never leaves a cut file behind.
    return WriteWholeFile(path, bytes);
}

SiteFileShape ScanSiteFile(const std::string& text) {
    return ShapeScan(text).Run();
}

bool ParseSiteFile(const std::string& raw, DiveSiteLists& out) {
    // The parser's time and memory grow with what the text makes of it, not
    // only with its size: the shape is bounded before it is parsed.
    if (raw.size() > kMaxSiteFileBytes || !ScanSiteFile(raw).WithinBounds()) return false;
    // The parser takes a UTF-8 lead byte and the bytes its length promises
    // in one step, without looking at them: a lead byte among the last three
    // steps over the terminating zero and reads on past the text. The text
    // ends in zeros for the longest such step to land on.
    std::string text = NormalizeLineEnds(raw);
    text.append(kParserOverrun, '\0');
    DiveSiteLists lists;
    {
        TiXmlDocument doc;
        doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        if (doc.Error() || !ReadDocument(doc, lists)) return false;
    }
    out = std::move(lists);
    return true;
}

bool ImportSiteFile(const std::string& path, DiveSiteLists& out) {
    std::string text;
    if (!ReadRegularFile(path, kMaxSiteFileBytes, text)) return false;
    return ParseSiteFile(text, out);
}

}  // namespace vorta_divesite

#include "divesite/dive_site_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tinyxml.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "browser/map_script.h"

namespace vorta_divesite {

namespace {

constexpr const char* kRootName = "vorta_dive_site";
constexpr const char* kTypeNames[3] = {"scuba", "freedive", "gauge"};

// The parser and the document's destructor recurse once per nesting level;
// they run on a thread of their own whose stack holds the deepest nesting
// kMaxSiteFileElements allows, whatever the caller's stack has left.
constexpr size_t kParseStackBytes = 64u << 20;
// Bytes the parser may read past the end of the text (see ParseSiteFile).
constexpr size_t kParserOverrun = 8;

// Elements the parser could make of `text`: each starts with '<' and a name
// character (a letter, '_' or any byte from 127 up, as the parser reads UTF-8).
size_t CountElementStarts(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '<') continue;
        const unsigned char c = static_cast<unsigned char>(text[i + 1]);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 127) ++n;
    }
    return n;
}

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

struct ParseJob {
    const std::string* text = nullptr;
    DiveSiteLists lists;
    bool ok = false;
};

void ParseOnThisThread(ParseJob& job) {
    TiXmlDocument doc;
    doc.Parse(job.text->c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error()) return;
    const TiXmlElement* root = doc.FirstChildElement();
    if (root == nullptr) return;
    for (int list = 0; list < 3; ++list) {
        const TiXmlElement* type = root->FirstChildElement(kTypeNames[list]);
        if (type == nullptr) continue;
        for (const TiXmlElement* w = type->FirstChildElement("waypoint"); w != nullptr;
             w = w->NextSiblingElement("waypoint")) {
            DiveSite site =
                MakeDiveSite(TypeOfList(list), KeepUtf8(AttributeText(*w, "name")),
                             ParseDegrees(AttributeText(*w, "lat")), ParseDegrees(AttributeText(*w, "lng")));
            job.lists.Append(list, site);  // beyond 64 the site is dropped; the rest is still read
        }
    }
    job.ok = true;
}

void* ParseThread(void* arg) {
    ParseOnThisThread(*static_cast<ParseJob*>(arg));
    return nullptr;
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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
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
    // Written beside the file it replaces (the link's target for a link), then
    // renamed over it, so a failed write never leaves a cut file behind. Not
    // synced: a disk flush would cost more than the whole export, and ext4 and
    // btrfs write a file's data before a rename that replaces another file.
    std::string target = path;
    struct stat old;
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists) {
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real) == nullptr) return false;
        target = real;
        if (!S_ISREG(old.st_mode)) return false;
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (ok && exists) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool ParseSiteFile(const std::string& raw, DiveSiteLists& out) {
    if (CountElementStarts(raw) > kMaxSiteFileElements) return false;
    // The parser takes a UTF-8 lead byte and the bytes its length promises
    // in one step, without looking at them: a lead byte among the last three
    // steps over the terminating zero and reads on past the text. The text
    // ends in zeros for the longest such step to land on.
    std::string text = NormalizeLineEnds(raw);
    text.append(kParserOverrun, '\0');
    ParseJob job;
    job.text = &text;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_t thread;
    const bool started = pthread_attr_setstacksize(&attr, kParseStackBytes) == 0 &&
                         pthread_create(&thread, &attr, ParseThread, &job) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return false;
    pthread_join(thread, nullptr);
    if (!job.ok) return false;
    out = std::move(job.lists);
    return true;
}

bool ImportSiteFile(const std::string& path, DiveSiteLists& out) {
    std::string text;
    if (!ReadRegularFile(path, kMaxSiteFileBytes, text)) return false;
    return ParseSiteFile(text, out);
}

}  // namespace vorta_divesite

#include "divesite/html_fragment.h"

#include <algorithm>

#include "base/html_text.h"

namespace vorta_divesite {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool EndsName(char c) {
    return IsSpace(c) || c == '>' || c == '/';
}

struct StartTag {
    size_t open = 0;   // '<'
    size_t close = 0;  // its '>'
    std::string name;
};

// The start tag that carries id="<id>" (or id='<id>'): the first one in the
// markup.
bool FindStartTag(const std::string& m, const std::string& id, StartTag& tag) {
    size_t best = std::string::npos;
    for (const char quote : {'"', '\''}) {
        const std::string pattern = std::string("id=") + quote + id + quote;
        for (size_t pos = m.find(pattern); pos != std::string::npos; pos = m.find(pattern, pos + 1)) {
            if (pos == 0 || !IsSpace(m[pos - 1])) continue;
            const size_t open = m.rfind('<', pos);
            const size_t before = m.rfind('>', pos);
            if (open == std::string::npos || (before != std::string::npos && before > open)) continue;
            if (m.find('>', pos) == std::string::npos) continue;
            if (pos < best) best = pos;
            break;
        }
    }
    if (best == std::string::npos) return false;
    tag.open = m.rfind('<', best);
    tag.close = m.find('>', best);
    size_t end = tag.open + 1;
    while (end < m.size() && !EndsName(m[end])) ++end;
    tag.name = m.substr(tag.open + 1, end - tag.open - 1);
    return !tag.name.empty();
}

// Where the content of the element opened by `tag` ends: at its matching end
// tag, or (none found) where the content starts.
size_t ContentEnd(const std::string& m, const StartTag& tag) {
    const size_t begin = tag.close + 1;
    const std::string open = "<" + tag.name;
    const std::string close = "</" + tag.name;
    int depth = 0;
    for (size_t pos = m.find('<', begin); pos != std::string::npos; pos = m.find('<', pos + 1)) {
        if (m.compare(pos, close.size(), close) == 0 && pos + close.size() < m.size() &&
            EndsName(m[pos + close.size()])) {
            if (depth == 0) return pos;
            --depth;
        } else if (m.compare(pos, open.size(), open) == 0 && pos + open.size() < m.size() &&
                   EndsName(m[pos + open.size()])) {
            const size_t gt = m.find('>', pos);
            if (gt != std::string::npos && m[gt - 1] != '/') ++depth;
        }
    }
    return begin;
}

}  // namespace

HtmlFragment::HtmlFragment(const std::string& markup, const std::vector<FragmentSlot>& slots)
    : found_(slots.size(), false) {
    struct Edit {
        size_t begin, end, slot;
        bool added;
        std::string name;
    };
    std::vector<Edit> edits;
    for (size_t i = 0; i < slots.size(); ++i) {
        StartTag tag;
        if (!FindStartTag(markup, slots[i].id, tag)) continue;
        if (slots[i].attribute.empty()) {
            if (markup[tag.close - 1] == '/') continue;  // an empty-element tag has no content
            edits.push_back({tag.close + 1, ContentEnd(markup, tag), i, false, {}});
            continue;
        }
        // The attribute's value between its quotes, or a new attribute at the
        // end of the tag.
        bool placed = false;
        for (const char quote : {'"', '\''}) {
            const std::string pattern = slots[i].attribute + "=" + quote;
            for (size_t pos = markup.find(pattern, tag.open); pos != std::string::npos && pos < tag.close;
                 pos = markup.find(pattern, pos + 1)) {
                if (!IsSpace(markup[pos - 1])) continue;
                const size_t begin = pos + pattern.size();
                const size_t end = markup.find(quote, begin);
                if (end == std::string::npos || end > tag.close) break;
                edits.push_back({begin, end, i, false, {}});
                placed = true;
                break;
            }
            if (placed) break;
        }
        if (!placed) {
            const size_t at = markup[tag.close - 1] == '/' ? tag.close - 1 : tag.close;
            edits.push_back({at, at, i, true, slots[i].attribute});
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    size_t done = 0;
    for (const Edit& e : edits) {
        if (e.begin < done) continue;  // inside a content already replaced
        pieces_.push_back({markup.substr(done, e.begin - done), e.slot, e.added, e.name});
        found_[e.slot] = true;
        done = e.end;
    }
    tail_ = markup.substr(done);
}

void HtmlFragment::AppendTo(std::string& out, const std::vector<std::string>& values) const {
    static const std::string kNone;
    for (const Piece& p : pieces_) {
        out += p.text;
        const std::string& value = p.slot < values.size() ? values[p.slot] : kNone;
        if (p.added) {
            out += ' ';
            out += p.name;
            out += "=\"";
            out += html_text::Escape(value);
            out += '"';
        } else {
            out += html_text::Escape(value);
        }
    }
    out += tail_;
}

std::string HtmlFragment::Fill(const std::vector<std::string>& values) const {
    std::string out;
    AppendTo(out, values);
    return out;
}

bool HtmlFragment::HasSlot(size_t i) const {
    return i < found_.size() && found_[i];
}

}  // namespace vorta_divesite

// ".ds" files: the three dive-site lists as UTF-8 XML, read and written with
// TinyXML.
//
//   <?xml version="1.0" encoding="UTF-8" ?>
//   <vorta_dive_site>
//       <scuba>
//           <waypoint name="Reef" lat="25.033964" lng="121.564468" />
//       </scuba>
//       <freedive />
//       <gauge />
//   </vorta_dive_site>
//
// A waypoint's type is the element that holds it. Reading takes any root
// element name, the first "scuba", "freedive" and "gauge" child of the root
// (a missing one is an empty list), their "waypoint" children in order (other
// elements are ignored) and at most 64 of each type. A file of thousands of
// waypoints is read (its first 64 of each type kept); the bounds below are on
// size, nesting and the parser's work, checked before the parser sees the
// text.
//
// Names are UTF-8 both ways: bytes of a name that are not (from the device,
// or from a broken file) are left out. The XML library reads a stray lead
// byte together with the bytes after it, the closing quote included, so a
// file holding one would not read back as it was written.
#pragma once

#include <cstddef>
#include <string>

#include "divesite/dive_site.h"

namespace vorta_divesite {

// Largest file that is read; a dive-site file of 192 sites is about 20 KB.
constexpr size_t kMaxSiteFileBytes = 4u << 20;
// Elements inside one another; a site file nests three deep. The parser
// recurses once per level and takes time with the square of the depth.
constexpr size_t kMaxSiteFileDepth = 32;
// Attributes of one element; a waypoint has three. The parser compares each
// new attribute with all earlier ones of its element.
constexpr size_t kMaxSiteFileAttributes = 32;
// Nodes (elements, comments, declarations, other markup, text runs) and
// attributes together: each costs the parser a heap object of its own, a
// hundred bytes and more, whatever few bytes of the file it came from.
// Thirty thousand flat waypoints fit.
constexpr size_t kMaxSiteFileNodes = 1u << 17;

// What the parser would build of a text, counted before it is given the
// text: nodes and attributes as kMaxSiteFileNodes counts them, the deepest
// nesting of elements and the most attributes any one element has. Counts
// stop growing once they are past their bounds.
struct SiteFileShape {
    size_t nodes = 0;
    size_t depth = 0;
    size_t attributes = 0;

    bool WithinBounds() const {
        return nodes <= kMaxSiteFileNodes && depth <= kMaxSiteFileDepth && attributes <= kMaxSiteFileAttributes;
    }
};
SiteFileShape ScanSiteFile(const std::string& text);

// The file's bytes for `lists`, exactly as the library prints the document.
std::string PrintSiteFile(const DiveSiteLists& lists);

// Writes the file. True only when the whole file was written; an existing
// file at `path` is replaced only by a complete new one and is otherwise left
// as it was.
bool ExportSiteFile(const std::string& path, const DiveSiteLists& lists);

// Reads `text` as a site file into `out`. False, with `out` untouched, when
// the text is not well-formed XML with a root element or its shape is beyond
// the bounds above. A waypoint whose latitude is outside -90..90 or whose
// longitude is outside -180..180 is left out; the rest is read.
bool ParseSiteFile(const std::string& text, DiveSiteLists& out);

// Reads the file at `path` into `out`. False, with `out` untouched, when it
// cannot be read (missing, not a regular file, over kMaxSiteFileBytes) or
// parsed.
bool ImportSiteFile(const std::string& path, DiveSiteLists& out);

}  // namespace vorta_divesite

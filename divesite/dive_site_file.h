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
// elements are ignored) and at most 64 of each type.
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
constexpr size_t kMaxSiteFileBytes = 16u << 20;
// Most elements a file may hold (a file of 192 sites has 196). Every element
// starts with "<name", so this also bounds the nesting the XML parser
// recurses through and takes time for: it grows with the square of the
// depth, a quarter of a second at this bound.
constexpr size_t kMaxSiteFileElements = 5000;

// The file's bytes for `lists`, exactly as the library prints the document.
std::string PrintSiteFile(const DiveSiteLists& lists);

// Writes the file. True only when the whole file was written; an existing
// file at `path` is replaced only by a complete new one and is otherwise left
// as it was.
bool ExportSiteFile(const std::string& path, const DiveSiteLists& lists);

// Reads `text` as a site file into `out`. False, with `out` untouched, when
// the text is not well-formed XML with a root element (or holds more than
// kMaxSiteFileElements elements).
bool ParseSiteFile(const std::string& text, DiveSiteLists& out);

// Reads the file at `path` into `out`. False, with `out` untouched, when it
// cannot be read (missing, not a regular file, over kMaxSiteFileBytes) or
// parsed.
bool ImportSiteFile(const std::string& path, DiveSiteLists& out);

}  // namespace vorta_divesite

// Text made safe to put into HTML markup, for the code that fills the
// program's page fragments (list rows, cells) with data before they are
// added to a page.
#pragma once

#include <string>

namespace html_text {

// & < > " ' escaped; everything else, UTF-8 included, as it is.
std::string Escape(const std::string& text);

}  // namespace html_text

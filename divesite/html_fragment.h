// A page fragment file (a list cell or row) filled with values before it is
// appended to its list.
//
// The fragment is prepared once: the places that take a value are found by
// the id of the element that holds them, so that filling a cell is only
// joining texts. A text goes in as the element's content, an attribute as
// the value of that attribute of the element's start tag (added when the tag
// lacks it). Values are escaped for HTML here. A slot whose element is not in
// the fragment is dropped, as a missing element takes no value on the page.
#pragma once

#include <string>
#include <vector>

namespace vorta_divesite {

struct FragmentSlot {
    std::string id;         // the element that takes the value
    std::string attribute;  // "" for its text content

    static FragmentSlot Text(std::string element_id) { return {std::move(element_id), std::string()}; }
    static FragmentSlot Attribute(std::string element_id, std::string name) {
        return {std::move(element_id), std::move(name)};
    }
};

class HtmlFragment {
public:
    HtmlFragment() = default;
    // `markup`: the fragment's HTML as the file holds it. Element content
    // that a text slot replaces must not hold an element of the same tag.
    HtmlFragment(const std::string& markup, const std::vector<FragmentSlot>& slots);

    // The markup with value i in place of slot i (missing values are empty).
    std::string Fill(const std::vector<std::string>& values) const;
    // Appends the same to `out` (a list built cell by cell).
    void AppendTo(std::string& out, const std::vector<std::string>& values) const;

    // Whether slot i was found in the markup.
    bool HasSlot(size_t i) const;

private:
    struct Piece {
        std::string text;    // markup before the value
        size_t slot = 0;     // the value that follows it
        bool added = false;  // a new attribute of its tag: ` name="value"`
        std::string name;    // that attribute's name
    };
    std::vector<Piece> pieces_;
    std::string tail_;
    std::vector<bool> found_;
};

}  // namespace vorta_divesite

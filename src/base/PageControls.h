#pragma once
// The state of a page's simple controls as data, so that a page model can be
// driven and checked without a window. The Qt pages only render these.
#include <string>
#include <string_view>
#include <vector>

namespace ristova {

struct EditField {
    std::string text;
    std::string hint;
    bool enabled = true;
};

struct ButtonState {
    std::string caption;
    std::string hint;
    bool enabled = true;
};

// A pick-only drop-down list.
struct PickList {
    std::vector<std::string> items;
    int itemIndex = -1;  // -1: no entry selected
    std::string hint;

    // The selected entry, empty when none is.
    std::string Text() const;
    // The entry equal to name, else the first one equal without regard to
    // the case of ASCII letters; -1 when there is none.
    int IndexOfCaseless(std::string_view name) const;
    // The first entry exactly equal to name; -1 when there is none.
    int IndexOf(std::string_view name) const;
    // Selects the entry equal to name (any case), appending it when missing.
    void SelectOrAppend(const std::string& name);
    void Clear();
};

}  // namespace ristova

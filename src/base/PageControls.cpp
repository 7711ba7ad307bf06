#include "base/PageControls.h"

#include "base/TextUtils.h"

namespace ristova {

std::string PickList::Text() const {
    if (itemIndex < 0 || itemIndex >= static_cast<int>(items.size())) return {};
    return items[itemIndex];
}

int PickList::IndexOfCaseless(std::string_view name) const {
    // Two files that differ only in case can both be there: the exact one wins.
    if (const int exact = IndexOf(name); exact >= 0) return exact;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (AsciiIEquals(items[i], name)) return static_cast<int>(i);
    }
    return -1;
}

int PickList::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == name) return static_cast<int>(i);
    }
    return -1;
}

void PickList::SelectOrAppend(const std::string& name) {
    itemIndex = IndexOfCaseless(name);
    if (itemIndex >= 0) return;
    items.push_back(name);
    itemIndex = static_cast<int>(items.size()) - 1;
}

void PickList::Clear() {
    items.clear();
    itemIndex = -1;
}

}  // namespace ristova

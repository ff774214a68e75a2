#include "controls/TextList.h"

namespace pelorin {

std::int32_t TextList::Add(std::string_view text) {
    items.emplace_back(text);
    return static_cast<std::int32_t>(items.size()) - 1;
}

std::string TextList::Get(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return {};
    return items[static_cast<std::size_t>(index)];
}

void TextList::Put(std::int32_t index, std::string_view text) {
    if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return;
    items[static_cast<std::size_t>(index)].assign(text);
}

std::int32_t TextList::IndexOf(std::string_view text) const {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == text) return static_cast<std::int32_t>(i);
    }
    return -1;
}

void TextList::Clear() { items.clear(); }

std::int32_t TextList::Count() const { return static_cast<std::int32_t>(items.size()); }

TextList* CreateTextList() { return new TextList; }

void Release(TextList* list) {
    if (list != nullptr && --list->references <= 0) delete list;
}

}  // namespace pelorin

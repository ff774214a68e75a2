// An ordered list of texts, indices from 0. Released by the program itself
// (Release), not through an auto-free list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

struct TextList {
    std::vector<std::string> items;
    std::int32_t references = 1;

    // Appends; returns the new index.
    std::int32_t Add(std::string_view text);
    // The text at index; the empty text for an index outside the list.
    std::string Get(std::int32_t index) const;
    // Replaces the text at index; an index outside the list changes nothing.
    void Put(std::int32_t index, std::string_view text);
    // Index of the first text equal to text (case-sensitive, whole text), -1 when none.
    std::int32_t IndexOf(std::string_view text) const;
    void Clear();
    std::int32_t Count() const;
};

TextList* CreateTextList();
// Drops the program's reference; the list is destroyed when none is left.
void Release(TextList* list);

}  // namespace pelorin

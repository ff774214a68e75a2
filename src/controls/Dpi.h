// Screens of any density. The program states every length of its interface
// (positions, sizes, column widths, font heights) in units of a 96-DPI
// screen; the layer turns them into pixels of the DPI of the form they sit
// on, and its getters turn pixels back into units. A form keeps its DPI and
// follows it to a screen of another density (WM_DPICHANGED).
#pragma once

#include <cstdint>

namespace pelorin {

constexpr std::uint32_t kUnitDpi = 96;

// A length at DPI from as a length at DPI to, to the nearest pixel (halves
// away from zero). Every conversion between units and pixels is this one.
std::int32_t ScaleDpi(std::int32_t value, std::uint32_t from, std::uint32_t to);

// Makes the process per-monitor DPI aware when the manifest's choice did not
// hold (Wine 8 refuses per-monitor v2 and then leaves the program unaware):
// per-monitor v2, else v1, else system aware. Call first, before any window.
void DeclareDpiAwareness() noexcept;

}  // namespace pelorin

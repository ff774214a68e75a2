// A splitter: a thin aligned control between an aligned neighbour and the
// client-aligned control. Dragging it resizes the neighbour it sits against
// (for a bottom-aligned splitter, the bottom-aligned control created before
// it, which lies directly below) and lays the parent out again. The cursor
// over it is the vertical-resize arrow unless one is set.
#pragma once

#include <cstdint>

#include "controls/Control.h"

namespace pelorin {

// minSize1: least size of the neighbour it resizes; minSize2: least size left
// to the client-aligned rest.
Control* CreateSplitter(Control* parent, std::int32_t minSize1, std::int32_t minSize2);

}  // namespace pelorin

// Live counts of the GDI and USER objects the control layer creates itself
// (fonts, brushes, menus). Leak tests read them where the platform cannot
// count for them (GetGuiResources is a stub under Wine).
#pragma once

namespace pelorin {

struct LayerResourceCounts {
    long fonts = 0;
    long brushes = 0;
    long menus = 0;
};

LayerResourceCounts LiveLayerResources();

}  // namespace pelorin

#include "controls/ResourceCounters.h"

#include <windows.h>

#include "controls/WindowCore.h"

namespace pelorin {
namespace {

volatile LONG g_fonts = 0;
volatile LONG g_brushes = 0;
volatile LONG g_menus = 0;

}  // namespace

namespace core {

void CountFont(int delta) { ::InterlockedExchangeAdd(&g_fonts, delta); }
void CountBrush(int delta) { ::InterlockedExchangeAdd(&g_brushes, delta); }
void CountMenu(int delta) { ::InterlockedExchangeAdd(&g_menus, delta); }

}  // namespace core

LayerResourceCounts LiveLayerResources() {
    LayerResourceCounts counts;
    counts.fonts = ::InterlockedCompareExchange(&g_fonts, 0, 0);
    counts.brushes = ::InterlockedCompareExchange(&g_brushes, 0, 0);
    counts.menus = ::InterlockedCompareExchange(&g_menus, 0, 0);
    return counts;
}

}  // namespace pelorin

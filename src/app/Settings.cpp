#include "app/Settings.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "controls/Button.h"
#include "support/Handles.h"
#include "support/LiteRegistry.h"
#include "ui/MainForm.h"
#include "ui/WindowBehaviour.h"

namespace pelorin {
namespace {

constexpr const char* kLeft = "frmleft";
constexpr const char* kTop = "frmtop";
constexpr const char* kWidth = "frmWidth";
constexpr const char* kHeight = "frmHeight";
constexpr const char* kStayOnTop = "StayOnTop";
constexpr const char* kWindowHandle = "pelorinno";

// Wide enough for any sum of two stored 32-bit values.
struct Box {
    std::int64_t left, top, right, bottom;
};

Box BoxOf(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

std::int64_t Overlap(const Box& a, const Box& b) {
    const std::int64_t w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const std::int64_t h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

// Squared gap between two boxes (0 when they touch or overlap); in doubles,
// since stored values may lie far apart.
double Gap(const Box& a, const Box& b) {
    const double dx = static_cast<double>(std::max<std::int64_t>({0, b.left - a.right, a.left - b.right}));
    const double dy = static_cast<double>(std::max<std::int64_t>({0, b.top - a.bottom, a.top - b.bottom}));
    return dx * dx + dy * dy;
}

// The work area a window belongs to: most overlap, else the closest.
const RECT& NearestWorkArea(const Box& window, std::span<const RECT> workAreas) {
    const RECT* best = &workAreas.front();
    std::int64_t bestOverlap = -1;
    double bestGap = 0;
    for (const RECT& area : workAreas) {
        const std::int64_t overlap = Overlap(window, BoxOf(area));
        const double gap = Gap(window, BoxOf(area));
        if (overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && gap < bestGap)) {
            best = &area;
            bestOverlap = overlap;
            bestGap = gap;
        }
    }
    return *best;
}

// The caption can be grabbed where a piece of it, as wide as a mouse can
// aim at and a few pixels high, lies on one work area.
bool CaptionReachable(const Box& caption, std::span<const RECT> workAreas) {
    constexpr std::int64_t kGrabWidth = 40, kGrabHeight = 8;
    const std::int64_t needWidth = std::min(kGrabWidth, caption.right - caption.left);
    const std::int64_t needHeight = std::min(kGrabHeight, caption.bottom - caption.top);
    return std::any_of(workAreas.begin(), workAreas.end(), [&](const RECT& r) {
        const Box area = BoxOf(r);
        const std::int64_t w = std::min(caption.right, area.right) - std::max(caption.left, area.left);
        const std::int64_t h = std::min(caption.bottom, area.bottom) - std::max(caption.top, area.top);
        return w > 0 && h > 0 && w >= needWidth && h >= needHeight;
    });
}

LONG ToLong(std::int64_t value) {
    return static_cast<LONG>(std::clamp<std::int64_t>(value, std::numeric_limits<LONG>::min(),
                                                      std::numeric_limits<LONG>::max()));
}

std::optional<std::int32_t> StoredInteger(HKEY key, const char* name) {
    // A text, a short binary or a 64-bit value is no window value: skipped.
    if (!ValueIsInteger(key, name)) return std::nullopt;
    return ReadInteger(key, name);
}

BOOL CALLBACK CollectWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM context) noexcept {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoA(monitor, &info)) {
        try {
            reinterpret_cast<std::vector<RECT>*>(context)->push_back(info.rcWork);
        } catch (...) {
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

const SettingsKey& ProgramSettingsKey() {
    static const SettingsKey key;
    return key;
}

std::string ProductKeyPath(const SettingsKey& key) { return key.parent + "\\" + key.company + "\\" + key.product; }

RECT SettlePlacement(const RECT& built, const StoredPlacement& stored, SIZE minimum, std::int32_t captionHeight,
                     std::span<const RECT> workAreas) {
    std::int64_t left = stored.left.value_or(built.left);
    std::int64_t top = stored.top.value_or(built.top);
    std::int64_t width = built.right - built.left;
    std::int64_t height = built.bottom - built.top;
    // Too small to grab or read: the window keeps the size it was built with.
    if (stored.width && *stored.width >= minimum.cx) width = *stored.width;
    if (stored.height && *stored.height >= minimum.cy) height = *stored.height;

    if (!workAreas.empty() && !CaptionReachable({left, top, left + width, top + captionHeight}, workAreas)) {
        const RECT& area = NearestWorkArea({left, top, left + width, top + height}, workAreas);
        const std::int64_t areaWidth = static_cast<std::int64_t>(area.right) - area.left;
        const std::int64_t areaHeight = static_cast<std::int64_t>(area.bottom) - area.top;
        if (width > areaWidth && areaWidth > 0) width = areaWidth;
        if (height > areaHeight && areaHeight > 0) height = areaHeight;
        left = std::clamp<std::int64_t>(left, area.left, std::max<std::int64_t>(area.left, area.right - width));
        top = std::clamp<std::int64_t>(top, area.top, std::max<std::int64_t>(area.top, area.bottom - height));
    }
    return {ToLong(left), ToLong(top), ToLong(left + width), ToLong(top + height)};
}

std::vector<RECT> MonitorWorkAreas() {
    std::vector<RECT> areas;
    ::EnumDisplayMonitors(nullptr, nullptr, CollectWorkArea, reinterpret_cast<LPARAM>(&areas));
    return areas;
}

void LoadSettings(MainForm& f) { LoadSettings(f, ProgramSettingsKey()); }

void LoadSettings(MainForm& f, const SettingsKey& key) {
    StoredPlacement stored;
    std::optional<std::int32_t> stayOnTop;
    {
        const UniqueKey product(OpenKey(key.root, ProductKeyPath(key).c_str(), kKeyRead));
        if (product) {
            stored.left = StoredInteger(product.Get(), kLeft);
            stored.top = StoredInteger(product.Get(), kTop);
            stored.width = StoredInteger(product.Get(), kWidth);
            stored.height = StoredInteger(product.Get(), kHeight);
            stayOnTop = StoredInteger(product.Get(), kStayOnTop);
        }
    }

    if (stored.left || stored.top || stored.width || stored.height) {
        // The stored values are the window's pixels, at whatever DPI they were saved.
        const RECT built = PixelBounds(f.Form);
        const SIZE minimum = {::GetSystemMetrics(SM_CXMINTRACK), ::GetSystemMetrics(SM_CYMINTRACK)};
        const std::int32_t caption = ::GetSystemMetrics(SM_CYCAPTION) + ::GetSystemMetrics(SM_CYFRAME);
        const std::vector<RECT> areas = MonitorWorkAreas();
        // Only the window moves; the stored values stay until the save at close.
        const RECT r = SettlePlacement(built, stored, minimum, caption, areas);
        SetPixelBounds(f.Form, r);
    }
    // Setting the box runs no click handler; the topmost call is made here.
    if (stayOnTop) SetChecked(f.chkOnTop, *stayOnTop != 0);
    if (GetChecked(f.chkOnTop)) ApplyStayOnTop(f, true);
}

void RegisterWindowHandle(MainForm& f) { RegisterWindowHandle(f, ProgramSettingsKey()); }

void RegisterWindowHandle(MainForm& f, const SettingsKey& key) {
    const UniqueKey parent(OpenKey(key.root, key.parent.c_str(), kKeyAllAccess));
    // Only a missing company key is made here (with the product key under
    // it); a company key without the product key waits for the save at close.
    if (parent && !KeyExists(parent.Get(), key.company.c_str())) {
        CreateKey(parent.Get(), (key.company + "\\" + key.product).c_str(), true);
    }
    const UniqueKey product(OpenKey(key.root, ProductKeyPath(key).c_str(), kKeyAllAccess));
    if (!product) return;
    const auto handle = reinterpret_cast<std::uintptr_t>(Handle(f.Form));
    WriteInteger(product.Get(), kWindowHandle, static_cast<std::int32_t>(static_cast<std::uint32_t>(handle)));
}

void SaveSettings(MainForm& f) { SaveSettings(f, ProgramSettingsKey()); }

void SaveSettings(MainForm& f, const SettingsKey& key) {
    const std::string path = ProductKeyPath(key);
    if (!KeyExists(key.root, path.c_str())) CreateKey(key.root, path.c_str(), true);
    const UniqueKey product(OpenKey(key.root, path.c_str(), kKeyAllAccess));
    if (!product) return;
    const RECT r = PixelBounds(f.Form);
    WriteInteger(product.Get(), kLeft, r.left);
    WriteInteger(product.Get(), kTop, r.top);
    WriteInteger(product.Get(), kWidth, r.right - r.left);
    WriteInteger(product.Get(), kHeight, r.bottom - r.top);
    WriteFlag(product.Get(), kStayOnTop, GetChecked(f.chkOnTop));
}

}  // namespace pelorin

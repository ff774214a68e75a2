#include "support/SystemInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorin {
namespace {

TEST(SystemInfo, SystemDriveRootOfAnyWindowsFolder) {
    const struct { const char* windows; const char* root; } cases[] = {
        {"C:\\WINDOWS\\", "C:\\"}, {"C:\\Windows\\", "C:\\"}, {"c:\\windows\\", "c:\\"}, {"E:\\os\\windows\\", "E:\\"},
        {"D:\\WinNT\\", "D:\\"}, {"\\\\server\\share\\Windows\\", "\\\\server\\share\\"},
        {"\\", "\\"},  // what a failed folder query leaves
    };
    for (const auto& c : cases) EXPECT_EQ(SystemDriveRoot(c.windows), c.root) << c.windows;
}

}  // namespace
}  // namespace pelorin

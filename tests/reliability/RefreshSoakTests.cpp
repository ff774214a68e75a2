// RefreshProcessList called thousands of times in this process, with a real
// list view, the platform's readings and "More Info" ticked: after a warm-up
// the process's handle count and private memory must stay put.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/ChildProcess.h"
#include "fixtures/ProcessCounters.h"
#include "reliability/InProcessList.h"
#include "reliability/ReliabilityDriver.h"

namespace pelorin::reliability {
namespace {

constexpr int kWarmUp = 100;
constexpr long kHandleSlack = 5;
constexpr long long kPrivateGrowthLimit = 1024 * 1024;

TEST(RefreshSoak, HandlesAndPrivateMemoryStayPutOverThousandsOfRefreshesWithMoreInfo) {
    const int total = Scaled(300, 5000);
    // Rows with a version resource and rows without one.
    std::vector<std::unique_ptr<fixtures::ChildProcess>> children;
    for (int i = 0; i < 6; ++i) {
        children.push_back(std::make_unique<fixtures::ChildProcess>());
        const std::string dll = fixtures::FixturePath("pelorin_fixture_known.dll");
        ASSERT_TRUE(children.back()->Start(i % 2 == 0 ? "--load \"" + dll + "\"" : std::string()));
    }

    InProcessList list;
    list.SetMoreInfo(true);
    const double warmUpMs = list.TimeRefreshes(kWarmUp);
    ASSERT_GT(list.RowCount(), 6);
    const unsigned long handlesBefore = fixtures::OwnHandleCount();
    const std::uint64_t privateBefore = fixtures::OwnPrivateBytes();
    ASSERT_GT(handlesBefore, 0ul) << "the handle count cannot be read here";
    ASSERT_GT(privateBefore, 0u) << "private bytes cannot be read here";

    // Figures along the way show a trend that the end points alone might hide.
    const int measured = total - kWarmUp;
    const int step = measured / 5;
    double meanMs = 0;
    long worstHandleDrift = 0;
    for (int done = 0; done < measured; done += step) {
        const int count = std::min(step, measured - done);
        meanMs += list.TimeRefreshes(count) * count / measured;
        const long drift = static_cast<long>(fixtures::OwnHandleCount()) - static_cast<long>(handlesBefore);
        if (std::labs(drift) > std::labs(worstHandleDrift)) worstHandleDrift = drift;
        PrintFigure("refresh soak", "after " + std::to_string(kWarmUp + done + count) + " refreshes: handles, private KiB",
                    std::to_string(fixtures::OwnHandleCount()) + ", " +
                        std::to_string(fixtures::OwnPrivateBytes() / 1024));
    }
    const unsigned long handlesAfter = fixtures::OwnHandleCount();
    const std::uint64_t privateAfter = fixtures::OwnPrivateBytes();
    const long handleChange = static_cast<long>(handlesAfter) - static_cast<long>(handlesBefore);
    const long long privateGrowth = static_cast<long long>(privateAfter) - static_cast<long long>(privateBefore);

    const std::string name = SoakRun() ? "refresh soak (soak)" : "refresh soak";
    PrintFigure(name, "refreshes (warm-up + measured)", std::to_string(kWarmUp) + " + " + std::to_string(measured));
    PrintFigure(name, "rows per refresh", std::to_string(list.RowCount()));
    PrintFigure(name, "mean refresh, warm-up / measured (ms)", Fixed(warmUpMs, 2) + " / " + Fixed(meanMs, 2));
    PrintFigure(name, "handle count after warm-up / at the end / change",
                std::to_string(handlesBefore) + " / " + std::to_string(handlesAfter) + " / " +
                    std::to_string(handleChange));
    PrintFigure(name, "largest handle drift seen on the way", std::to_string(worstHandleDrift));
    PrintFigure(name, "private bytes after warm-up / at the end / growth",
                std::to_string(privateBefore) + " / " + std::to_string(privateAfter) + " / " +
                    std::to_string(privateGrowth));
    EXPECT_LE(std::labs(handleChange), kHandleSlack);
    EXPECT_LE(std::labs(worstHandleDrift), kHandleSlack);
    EXPECT_LT(privateGrowth, kPrivateGrowthLimit);
}

}  // namespace
}  // namespace pelorin::reliability

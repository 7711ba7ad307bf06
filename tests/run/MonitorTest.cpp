#include "run/Monitor.h"

#include <gtest/gtest.h>

#include "base/StringGrid.h"

namespace ristova::run {
namespace {

// sgPower as plan selection leaves it: heading + one row per relay.
StringGrid PowerGrid(int relays) {
    StringGrid power(6, relays + 1, 0, 1);
    for (int r = 1; r <= relays; ++r) {
        power.SetCell(3, r, "水泵" + std::to_string(r));
        power.SetCell(4, r, r == 2 ? "不存在" : "照明" + std::to_string(r));
    }
    return power;
}

TEST(BuildMonitorGrid, OneRowPerRelayWithContactUsesAndFittedColumns) {
    StringGrid state;
    SetupMonitorGrid(state);
    // Leftovers of a larger controller must not come back.
    BuildMonitorGrid(PowerGrid(5), state);
    ShowRelayStates(state, "11111");
    BuildMonitorGrid(PowerGrid(3), state);
    ASSERT_EQ(state.RowCount(), 4);
    EXPECT_EQ(state.ColCount(), 4);
    EXPECT_EQ(state.Cell(0, 0), "继电器");
    EXPECT_EQ(state.Cell(1, 0), "继电器状态");
    EXPECT_EQ(state.Cell(2, 0), "常开触点状态");
    EXPECT_EQ(state.Cell(3, 0), "常闭触点状态");
    EXPECT_EQ(state.Cell(0, 3), "   3");
    EXPECT_EQ(state.Cell(1, 1), "");
    EXPECT_EQ(state.Cell(2, 1), "水泵1");
    EXPECT_EQ(state.Cell(3, 2), "不存在");
    state.SetRowCount(6);
    EXPECT_EQ(state.Cell(1, 4), "");
    EXPECT_EQ(state.Cell(2, 5), "");
    // Columns 2 and 3 share what is left of the width, the left half
    // rounded down.
    const int sum = state.ColWidth(2) + state.ColWidth(3);
    EXPECT_EQ(state.ColWidth(2), sum / 2);
    EXPECT_EQ(state.ColWidth(3), sum - sum / 2);
    EXPECT_GT(sum, 136 + 100);
}

TEST(ShowRelayStates, ChangesOnlyTheCoveredCellsAndSaysWhenItDid) {
    StringGrid state;
    SetupMonitorGrid(state);
    BuildMonitorGrid(PowerGrid(4), state);
    EXPECT_TRUE(ShowRelayStates(state, "0101"));
    EXPECT_FALSE(ShowRelayStates(state, "0101"));
    // Longer: the extra characters are ignored.
    EXPECT_TRUE(ShowRelayStates(state, "1101111"));
    EXPECT_EQ(state.Cell(1, 1), "1");
    EXPECT_EQ(state.Cell(1, 4), "1");
    // Shorter: the other relays keep their state.
    EXPECT_TRUE(ShowRelayStates(state, "0"));
    EXPECT_EQ(state.Cell(1, 1), "0");
    EXPECT_EQ(state.Cell(1, 2), "1");
    EXPECT_FALSE(ShowRelayStates(state, ""));
    // One character per relay, also when it is not ASCII.
    EXPECT_TRUE(ShowRelayStates(state, "开?1"));
    EXPECT_EQ(state.Cell(1, 1), "开");
    EXPECT_EQ(state.Cell(1, 2), "?");
    EXPECT_EQ(state.Cell(1, 3), "1");
}

TEST(CellPicture, FollowsTheStateCell) {
    StringGrid state;
    SetupMonitorGrid(state);
    BuildMonitorGrid(PowerGrid(3), state);
    // Empty before the first state tick: relay off, both contacts open.
    EXPECT_EQ(CellPicture(state, 1, 1), MonitorPicture::RelayOff);
    EXPECT_EQ(CellPicture(state, 2, 1), MonitorPicture::ContactOpen);
    EXPECT_EQ(CellPicture(state, 3, 1), MonitorPicture::ContactOpen);
    ShowRelayStates(state, "10?");
    EXPECT_EQ(CellPicture(state, 1, 1), MonitorPicture::RelayOn);
    EXPECT_EQ(CellPicture(state, 2, 1), MonitorPicture::ContactClosed);
    EXPECT_EQ(CellPicture(state, 3, 1), MonitorPicture::ContactOpen);
    EXPECT_EQ(CellPicture(state, 1, 2), MonitorPicture::RelayOff);
    EXPECT_EQ(CellPicture(state, 2, 2), MonitorPicture::ContactOpen);
    EXPECT_EQ(CellPicture(state, 3, 2), MonitorPicture::ContactAbsent);
    // Neither "1" nor "0": relay off and both contacts open.
    EXPECT_EQ(CellPicture(state, 2, 3), MonitorPicture::ContactOpen);
    EXPECT_EQ(CellPicture(state, 3, 3), MonitorPicture::ContactOpen);
    EXPECT_EQ(CellPicture(state, 0, 1), MonitorPicture::Text);
    EXPECT_EQ(CellPicture(state, 2, 0), MonitorPicture::Text);
}

}  // namespace
}  // namespace ristova::run

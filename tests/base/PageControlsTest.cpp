#include "base/PageControls.h"

#include <gtest/gtest.h>

namespace ristova {
namespace {

// Two files that differ only in case (copied in by hand): a stored name
// finds its own file first, and only then one of another case.
TEST(PickList, AStoredNamePrefersTheExactEntry) {
    PickList list;
    list.items = {"Pump.PSW", "pump.PSW", "other.psw"};
    EXPECT_EQ(list.IndexOfCaseless("pump.PSW"), 1);
    EXPECT_EQ(list.IndexOfCaseless("Pump.PSW"), 0);
    EXPECT_EQ(list.IndexOfCaseless("PUMP.psw"), 0);
    EXPECT_EQ(list.IndexOfCaseless("OTHER.PSW"), 2);
    EXPECT_EQ(list.IndexOfCaseless("none.psw"), -1);
    list.SelectOrAppend("pump.PSW");
    EXPECT_EQ(list.Text(), "pump.PSW");
}

}  // namespace
}  // namespace ristova

// Under Wine the window asks Qt for the FreeType engine, unless the user
// named a platform himself.
#include <gtest/gtest.h>

#include "app/ui/AppFont.h"

namespace ristova::ui {
namespace {

TEST(AppFontTest, FreeTypeOnlyUnderWineAndNeverOverTheUsersPlatform) {
    EXPECT_TRUE(WantsFreeType({}, nullptr, true));
    EXPECT_TRUE(WantsFreeType({"-style", "fusion"}, "", true));
    EXPECT_FALSE(WantsFreeType({}, nullptr, false));
    EXPECT_FALSE(WantsFreeType({}, "offscreen", true));
    EXPECT_FALSE(WantsFreeType({"-style", "fusion", "-platform", "windows"}, nullptr, true));
    EXPECT_FALSE(WantsFreeType({"--platform", "minimal"}, nullptr, true));
}

}  // namespace
}  // namespace ristova::ui

#include "run/Housekeeping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Files.h"
#include "support/TempDir.h"

namespace ristova::run {
namespace {

class DeleteOldPlansTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ForceDirectories(dir_.File("泵房"))); }
    void Plan(const std::string& name) {
        dir_.Write("泵房/" + name, "1^^1^^08:00:00^^接通^^^^^^\r\n");
    }
    std::vector<std::string> Remaining(const std::string& folder = "泵房") {
        std::vector<std::string> names;
        ListFolderFiles(names, dir_.File(folder), "*");
        std::sort(names.begin(), names.end());
        return names;
    }
    void Clean(const Date& today) { DeleteOldPlans(dir_.Path(), dir_.File("泵房.PSW"), today); }

    test::TempDir dir_;
};

TEST_F(DeleteOldPlansTest, RemovesOnlyDatedPlansMoreThanThirtyDaysOld) {
    for (const char* name :
         {"2012-03-01.tab", "2012-02-29.tab", "2011-01-01.tab", "2012-03-31.tab", "03-18.tab",
          "星期日.tab", "计划表.tab", "2012-3-5.tab", "2011-02-30.tab", "1999-01-01.txt"}) {
        Plan(name);
    }
    // Read-only files go too.
    test::SetReadOnly(dir_.File("泵房/2011-01-01.tab"));
    Clean(Date{2012, 3, 31});
    // Exactly 30 days old stays; month-day, weekday, default, other forms
    // and impossible dates are not dated plans.
    EXPECT_EQ(Remaining(), (std::vector<std::string>{
                               "03-18.tab", "1999-01-01.txt", "2011-02-30.tab", "2012-03-01.tab",
                               "2012-03-31.tab", "2012-3-5.tab", "星期日.tab", "计划表.tab"}));
}

TEST_F(DeleteOldPlansTest, OnlyTheRunControllersFolderAndAnyExtensionCase) {
    ASSERT_TRUE(ForceDirectories(dir_.File("其它")));
    dir_.Write("其它/2000-01-01.tab", "");
    dir_.Write("2000-01-01.tab", "");
    Plan("2000-01-02.TAB");
    Clean(Date{2012, 1, 1});
    EXPECT_TRUE(Remaining().empty());
    EXPECT_EQ(Remaining("其它"), std::vector<std::string>{"2000-01-01.tab"});
    EXPECT_TRUE(FileExists(dir_.File("2000-01-01.tab")));
}

}  // namespace
}  // namespace ristova::run

// The runner's standard output lines split into their seven fields at the
// first six blanks, whatever blanks the fields hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/HeadlessRunner.h"

namespace ristova {
namespace {

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (int k = 0; k < 6; ++k) {
        const std::size_t blank = line.find(' ', from);
        if (blank == std::string::npos) break;
        fields.push_back(line.substr(from, blank - from));
        from = blank + 1;
    }
    fields.push_back(line.substr(from));
    return fields;
}

TEST(RunEventLine, FixedFieldsHoldNoBlanksAndOnlyTheDetailIsFreeText) {
    run::RunEvent e;
    e.at = "2026-12-09 01:04:55.000";
    e.controller = "泵 房\t2.PSW";
    e.kind = "run";
    e.source = "engine";
    e.result = "plan chosen";
    e.detail = "夜间 计划.tab\nsecond line";
    EXPECT_EQ(SplitFields(RunEventLine(e)),
              (std::vector<std::string>{"2026-12-09T01:04:55.000", "泵_房_2.PSW", "0", "run",
                                        "engine", "plan_chosen", "夜间 计划.tab second line"}));
    // Empty fields are "-"; the codes themselves are not touched.
    EXPECT_EQ(RunEventLine({"2026-12-09 01:04:55.070", "a.PSW", 1, "state", "board", "1", ""}),
              "2026-12-09T01:04:55.070 a.PSW 1 state board 1 -");
}

}  // namespace
}  // namespace ristova

// Times the plan table's round trip at 10,000 rows: save, load, the editor's
// two sort orders, save again. Prints the median of a few runs in ms.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/GridOps.h"
#include "base/TextUtils.h"
#include "plan/PlanFile.h"

using namespace ristova;

namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 7;

StringGrid MakePlan() {
    std::mt19937 rng(2012);
    StringGrid grid(6, kRows + 1);
    SetGridTitles(grid, plan::PlanTableTitles());
    for (int r = 1; r <= kRows; ++r) {
        grid.SetCell(1, r, PadLeft(std::to_string(1 + rng() % 32), '0', 2));
        grid.SetCell(2, r, SecondsToTimeText(rng() % 86400));
        grid.SetCell(3, r, std::string(rng() % 2 ? plan::kSwitchOn : plan::kSwitchOff));
        grid.SetCell(4, r, "水泵" + std::to_string(r % 32));
        grid.SetCell(5, r, "不存在");
    }
    NumberGridRows(grid, 0, 1, ' ', 3);
    return grid;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs prepare (untimed) then step (timed) kRuns times.
double Time(const std::function<void()>& prepare, const std::function<void()>& step) {
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        prepare();
        auto t0 = std::chrono::steady_clock::now();
        step();
        auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return Median(ms);
}

void SortByRelayThenTime(StringGrid& g) {
    SortGridByColumn(g, 1, 1, g.RowCount() - 1);
    SortGridGroups(g, 1, 2, 1, g.RowCount() - 1);
}

void SortByTimeThenRelay(StringGrid& g) {
    SortGridByColumn(g, 2, 1, g.RowCount() - 1);
    SortGridGroups(g, 2, 1, 1, g.RowCount() - 1);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/ristova-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string folder = std::string(pattern) + "/";
    const std::string file = folder + "计划表.tab";

    const StringGrid source = MakePlan();
    StringGrid grid;
    auto none = [] {};

    double save = Time(none, [&] { plan::SavePlanGrid(source, file); });
    double load = Time(none, [&] { plan::LoadPlanGrid(file, grid); });
    double byRelay =
        Time([&] { plan::LoadPlanGrid(file, grid); }, [&] { SortByRelayThenTime(grid); });
    double byTime =
        Time([&] { plan::LoadPlanGrid(file, grid); }, [&] { SortByTimeThenRelay(grid); });
    double saveSorted = Time(none, [&] { plan::SavePlanGrid(grid, file); });

    std::printf("plan table of %d rows, median of %d runs\n", kRows, kRuns);
    std::printf("save                      %8.2f ms\n", save);
    std::printf("load (LoadPlanGrid)       %8.2f ms\n", load);
    std::printf("sort relay, then time     %8.2f ms\n", byRelay);
    std::printf("sort time, then relay     %8.2f ms\n", byTime);
    std::printf("save sorted               %8.2f ms\n", saveSorted);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}

// Times the setup page's file work on a full controller (32 relays): the save
// of table and description, the table load, and the twelve single-key reads
// that loading a controller does. Also a key read from a file with a
// megabyte line in front. Prints the median of a few runs in microseconds.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "controller/ControllerFile.h"

using namespace ristova;

namespace {

constexpr int kRelays = 32;
constexpr int kRuns = 21;

double MedianMicros(const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    char pattern[] = "/tmp/ristova-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const std::string folder = std::string(pattern) + "/";
    const std::string path = folder + "Quelmar电源控制器.PSW";
    controller::CreateControllerFile(path);

    StringGrid grid(6, kRelays + 1);
    SetGridTitles(grid, controller::CommandTableTitles());
    for (int r = 1; r <= kRelays; ++r) {
        grid.SetCell(1, r, "4F2830302C" + std::to_string(10 + r) + "2C312945");
        grid.SetCell(2, r, "4F2830302C" + std::to_string(10 + r) + "2C302945");
        grid.SetCell(3, r, "水泵" + std::to_string(r));
        grid.SetCell(4, r, std::string(controller::kNoContact));
        grid.SetCell(5, r, std::string(controller::kStartOnMark));
    }
    NumberGridRows(grid, 0, 1, ' ', 4);
    const std::vector<std::string> description(20, "一行说明文字 with some text");

    const double save =
        MedianMicros([&] { controller::WriteCommandTableAndDescription(path, grid, description); });
    StringGrid back(6, 2);
    const double load = MedianMicros([&] { controller::ReadCommandTable(path, back); });
    const char* keys[][2] = {{"LOAD", "sPowerDllFn"}, {"LOAD", "spComChl"}, {"LOAD", "edStateCmd"},
                             {"COMM", "COMM1"},       {"COMM", "edBound"},  {"COMM", "edTimeOut"},
                             {"COMM", "ByteSize"},    {"COMM", "StopBits"}, {"COMM", "Parity"},
                             {"DESCRIPT", "SPECIF"},  {"LOAD", "FLAG"},     {"LOAD", "missing"}};
    const double reads = MedianMicros([&] {
        for (auto& k : keys) ReadIniText(path, k[0], k[1]);
    });

    const std::string big = folder + "big.INI";
    WriteFileAtomically(big, "junk=" + std::string(1 << 20, 'x') + "\n[S]\nk=v\n");
    const double bigRead = MedianMicros([&] { ReadIniText(big, "S", "k"); });

    std::printf("controller file, %d relays (median of %d runs):\n", kRelays, kRuns);
    std::printf("  save table + description: %8.1f us\n", save);
    std::printf("  load command table:       %8.1f us\n", load);
    std::printf("  12 single-key reads:      %8.1f us\n", reads);
    std::printf("key read behind a 1 MB line: %7.1f us\n", bigRead);
    std::filesystem::remove_all(folder);
    return 0;
}

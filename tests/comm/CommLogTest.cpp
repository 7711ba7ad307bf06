#include <algorithm>
#include <regex>

#include "comm/ComportFixture.h"

namespace ristova::test {
namespace {

using CommLog = ComportFixture;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return lines;
}

TEST_F(CommLog, LinesAreCodePage936WithTimeOfDayAndCrLf) {
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    port.ClosePort();
    std::string raw = dir.Read("comm.log");
    EXPECT_NE(raw.find(codec::ToCodePage("打开")), std::string::npos);
    EXPECT_EQ(raw.find("打开"), std::string::npos) << "not UTF-8 on disk";
    std::vector<std::string> lines = Lines(Log());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.front(), std::regex("\\d\\d:\\d\\d:\\d\\d 打开.*成功")))
        << lines.front();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), lines.back().substr(0, 8) + " 关闭Write Thread"),
        lines.end());

    // The next OpenPort of a logging instance starts the file afresh.
    ASSERT_TRUE(port.OpenPort());
    port.ClosePort();
    EXPECT_EQ(Count(Log(), " Stopping the Comm"), 1u);
}

TEST_F(CommLog, LinesStayWholeWhenThreadsWriteAtOnce) {
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            std::string text =
                "线程" + std::to_string(t) + std::string(200, static_cast<char>('a' + t));
            for (int i = 0; i < 300; ++i) WriteCommLog(text);
        });
    }
    // The workers log too, meanwhile.
    for (int i = 0; i < 5; ++i) port.SendData("abc", 3);
    for (auto& w : writers) w.join();
    port.ClosePort();
    std::size_t ours = 0;
    for (const std::string& line : Lines(Log())) {
        if (line.rfind("线程", 0) != 0) continue;
        ++ours;
        int t = line[6] - '0';
        EXPECT_EQ(line, "线程" + std::to_string(t) + std::string(200, static_cast<char>('a' + t)));
    }
    EXPECT_EQ(ours, 1200u);
}

TEST_F(CommLog, NothingIsWrittenWithoutALogName) {
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    WriteCommLog("before");
    // The name is process-wide: another instance clears it for all.
    TMyComport other(poster);
    other.SetCommsLogFileName("");
    WriteCommLog("after");
    WriteCommLogTimed(" after");
    std::string log = Log();
    EXPECT_NE(log.find("before"), std::string::npos);
    EXPECT_EQ(log.find("after"), std::string::npos);
}

}  // namespace
}  // namespace ristova::test

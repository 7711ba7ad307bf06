#pragma once
// What the run engine's tests share: a settable clock whose pauses take fake
// time and a program folder with one controller and its plan.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "base/AppContext.h"
#include "base/Clock.h"
#include "base/Codec.h"
#include "base/Files.h"
#include "base/SharedLibrary.h"
#include "base/IniFile.h"
#include "base/SettingsBoxes.h"
#include "base/StatusBar.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "base/MainThreadPoster.h"
#include "comm/MyComm32.h"
#include "run/RunPage.h"
#include "run/Site.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace ristova::test {

// A decoder plug-in's file name here: "SimRelay.so", on Windows "SimRelay.dll".
inline std::string Library(std::string_view name) {
    return std::string(name) + std::string(kSharedLibraryMask.substr(1));
}

class FakeClock : public IClock {
  public:
    LocalDateTime Now() override { return now_; }
    void Set(Date date, int hour, int minute, int second, int ms = 0) {
        now_.date = date;
        now_.hour = hour;
        now_.minute = minute;
        now_.second = second;
        now_.millisecond = ms;
    }
    // Seconds since midnight, with the date rolled over as needed.
    void SetSecond(long long daySecond, int ms = 0) {
        Date d = now_.date;
        while (daySecond >= 86400) {
            daySecond -= 86400;
            d = d.AddDays(1);
        }
        Set(d, static_cast<int>(daySecond / 3600), static_cast<int>(daySecond / 60 % 60),
            static_cast<int>(daySecond % 60), ms);
    }
    void AdvanceMs(long long ms) {
        long long total = TimeToSeconds(now_) * 1000LL + now_.millisecond + ms;
        SetSecond(total / 1000, static_cast<int>(total % 1000));
    }

  private:
    LocalDateTime now_{Date{2012, 3, 18}, 8, 0, 0, 0};
};

// Pauses advance the fake clock, so the engine's 10 and 20 ms take time.
class FakeSleeper : public ISleeper {
  public:
    explicit FakeSleeper(FakeClock& clock) : clock_(clock) {}
    void SleepMs(int ms) override {
        pauses.push_back(ms);
        clock_.AdvanceMs(ms);
    }
    std::vector<int> pauses;

  private:
    FakeClock& clock_;
};

// Everything the far end of the pair receives within the time.
inline std::string Drain(PtyPair& far, int timeoutMs = 100) {
    return far.Read(static_cast<std::size_t>(-1), timeoutMs);
}

inline std::string Hex(std::string_view ascii) {
    return BytesToHex(reinterpret_cast<const std::uint8_t*>(ascii.data()), ascii.size());
}
inline std::string OnCommand(int relay) {
    return "O(00," + PadLeft(std::to_string(relay), '0', 2) + ",1)E";
}
inline std::string OffCommand(int relay) {
    return "O(00," + PadLeft(std::to_string(relay), '0', 2) + ",0)E";
}
inline constexpr const char* kQuery = "Q(00)E";

struct PlanRow {
    std::string relay;
    std::string time;
    std::string action;  // "接通" or "断开"
};

// A program folder, the settings and one controller with its plan folder.
class EngineFixture {
  public:
    static constexpr const char* kController = "泵房.PSW";

    EngineFixture()
        : sleeper(clock),
          ctx{dir.Path(),
              std::string(RISTOVA_PLUGIN_DIR),
              dir.File("系统参数.INI"),
              clock,
              sleeper,
              poster,
              status,
              boxes},
          com1(poster) {
        boxes.chk4Level = false;
        boxes.chkRun = false;
        boxes.chkStartON = false;
        boxes.chkAutoDelete = false;
        boxes.chkManOperate = true;
        WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", kController);
    }

    // The run page over a site of the folder's runs.
    run::RunPage& Engine() {
        if (!engine_) {
            site_ = std::make_unique<run::Site>(ctx, com1);
            engine_ = std::make_unique<run::RunPage>(ctx, *site_);
        }
        return *engine_;
    }
    run::Site& GetSite() {
        Engine();
        return *site_;
    }
    // The run the page shows.
    run::ControllerRun& ShownRun() { return *GetSite().Find(Engine().Shown()->File()); }
    // As start-up does: the run side is prepared, then LastRunDate is today.
    run::RunPage& Prepared() {
        Engine().FillRunDeviceList();
        Engine().SetLastRunDate(clock.Now().date);
        return Engine();
    }

    std::string ControllerFile(const std::string& name = kController) const {
        return dir.File(name);
    }

    // Relays 1..relays with the simulated controller's commands; marked
    // relays switch on at start.
    void WriteController(int relays, const std::string& port, const std::vector<int>& startOn = {},
                         const std::string& name = kController,
                         const std::string& plugin = Library("SimRelay")) {
        const std::string file = ControllerFile(name);
        WriteIniText(file, "LOAD", "FLAG", "Quelmar电源控制文件");
        WriteIniText(file, "LOAD", "sPowerDllFn", plugin);
        WriteIniText(file, "LOAD", "edStateCmd", Hex(kQuery));
        WriteIniText(file, "COMM", "COMM1", port);
        WriteIniText(file, "COMM", "edBound", "9600");
        WriteIniText(file, "COMM", "edTimeOut", "20");
        StringGrid table(6, relays + 1, 0, 1);
        const char* titles[] = {"继电器开关",   "接通指令",     "断开指令",
                                "常开开关用途", "常闭开关用途", "启动时接通"};
        for (int c = 0; c < 6; ++c) table.SetCell(c, 0, titles[c]);
        for (int r = 1; r <= relays; ++r) {
            table.SetCell(0, r, std::to_string(r));
            table.SetCell(1, r, Hex(OnCommand(r)));
            table.SetCell(2, r, Hex(OffCommand(r)));
            table.SetCell(3, r, "灯" + std::to_string(r));
            table.SetCell(4, r, "不存在");
            bool on = false;
            for (int k : startOn) on = on || k == r;
            table.SetCell(5, r, on ? " √" : " X");
        }
        SaveGridToIni(file, "COMMAND", table);
    }

    void WritePlan(const std::vector<PlanRow>& rows, const std::string& table = "计划表.tab",
                   const std::string& folder = "泵房") {
        std::string text;
        int n = 0;
        for (const PlanRow& row : rows) {
            text += std::to_string(++n) + "^^" + row.relay + "^^" + row.time + "^^" + row.action +
                    "^^^^^^\r\n";
        }
        ForceDirectories(dir.File(folder));
        dir.Write(folder + "/" + table, codec::ToCodePage(text));
    }

    TempDir dir;
    FakeClock clock;
    FakeSleeper sleeper;
    PumpedPoster poster;
    StatusBar status;
    SettingsBoxes boxes;
    AppContext ctx;
    TMyComport com1;

  private:
    std::unique_ptr<run::Site> site_;
    std::unique_ptr<run::RunPage> engine_;
};

}  // namespace ristova::test

// Start-up time of the window in a program folder with 30 controllers of 16
// relays and 1,000 plan tables of 20 rows, running started by the settings
// (with the old-plan clean-up): the model's start-up alone, and the whole
// window up to its first showing. Prints the median of several runs.
// "--prepare FOLDER" only writes the folder (process_startup.sh times the
// program itself in it).
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Codec.h"
#include "base/Files.h"
#include "app/MainWindowModel.h"
#include "app/ui/AppFont.h"
#include "app/ui/MainWindow.h"
#include "base/ui/QtMainThreadPoster.h"

namespace {

namespace fs = std::filesystem;
constexpr int kControllers = 30;
constexpr int kPlans = 1000;
constexpr int kRelays = 16;
constexpr int kRuns = 7;

void Write(const std::string& path, const std::string& utf8) {
    ristova::WriteFileAtomically(path, ristova::codec::ToCodePage(utf8));
}

std::string Controller(int n) {
    return "控制器" + std::to_string(n) + ".PSW";
}

void Prepare(const std::string& folder) {
    for (int c = 0; c < kControllers; ++c) {
        std::string text =
            std::string(
                "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=16\nedStateCmd=512830302945\n") +
            "[COMM]\nCOMM1=/nonexistent/tty\n[COMMAND]\n" +
            "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n";
        for (int r = 1; r <= kRelays; ++r)
            text += "Row" + std::to_string(r) + "=" + std::to_string(r) + "^^0" +
                    std::to_string(r) + "01^^0" + std::to_string(r) + "00^^照明^^风扇^^ X^^\n";
        Write(folder + Controller(c), text);
        ristova::ForceDirectories(folder + "控制器" + std::to_string(c));
    }
    std::string plan;
    for (int row = 1; row <= 20; ++row)
        plan += std::to_string(row) + "^^" + std::to_string(row % kRelays + 1) +
                "^^08:" + std::to_string(10 + row) + ":00^^接通^^照明^^风扇^^\r\n";
    // Each controller has its default plan; the rest are dated in the future,
    // so that the clean-up lists them all and deletes none.
    for (int c = 0; c < kControllers; ++c)
        Write(folder + "控制器" + std::to_string(c) + "/计划表.tab", plan);
    for (int p = 0; p < kPlans - kControllers; ++p) {
        const int c = p % kControllers;
        const ristova::Date d = ristova::Date{2040, 1, 1}.AddDays(p);
        char name[32];
        std::snprintf(name, sizeof name, "%04d-%02d-%02d.tab", d.year, d.month, d.day);
        Write(folder + "控制器" + std::to_string(c) + "/" + name, plan);
    }
    Write(folder + "系统参数.INI",
          "[LOAD]\nchkRun=YES\nchkAutoDelete=YES\nsPowerFn=" + Controller(3) +
              "\n[EDIT]\nsPowerFn=" + Controller(4) + "\n[RUN]\nsPowerFn=" + Controller(0) + "\n");
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--prepare") {
        const std::string folder = ristova::IncludeTrailingSeparator(argv[2]);
        ristova::ForceDirectories(folder);
        Prepare(folder);
        return 0;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setFont(ristova::ui::WindowFont());
    const std::string folder = fs::temp_directory_path().string() + "/ristova-bench-startup-" +
                               std::to_string(getpid()) + "/";
    ristova::ForceDirectories(folder);
    Prepare(folder);

    std::vector<double> model;
    std::vector<double> window;
    std::size_t listed = 0;
    int planRows = 0;
    bool running = false;
    for (int run = 0; run < kRuns; ++run) {
        ristova::ui::QtMainThreadPoster poster;
        ristova::MainWindowOptions o;
        o.programFolder = folder;
        {
            QElapsedTimer t;
            t.start();
            ristova::MainWindowModel m(poster, o);
            m.FormCreate();
            model.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            listed = m.Monitor().cbRunDevList().Items.size();
            planRows = m.Monitor().sgPlan().RowCount() - 1;
            running = m.Monitor().Running();
        }
        QElapsedTimer t;
        t.start();
        ristova::MainWindowModel m(poster, o);
        ristova::ui::TFrmMain w(m);
        w.show();
        QApplication::processEvents();
        window.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("folder: %d controllers, %d plan tables; listed %zu, plan rows %d, running %s\n",
                kControllers, kPlans, listed, planRows, running ? "yes" : "no");
    std::printf("model start-up (FormCreate): median %.1f ms over %d runs\n", Median(model), kRuns);
    std::printf("window created and shown:    median %.1f ms over %d runs\n", Median(window),
                kRuns);
    fs::remove_all(folder);
    return 0;
}

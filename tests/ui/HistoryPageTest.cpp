// The history page as the operator uses it: the tab, the date, the timeline
// under the pointer and the wheel, the relay filter, the CSV export, and
// today's page following a run.
#include <pty.h>
#include <unistd.h>

#include <QComboBox>
#include <QDateEdit>
#include <QSlider>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

#include "WindowFixture.h"
#include "app/ui/HistoryPage.h"
#include "app/ui/MonitorPage.h"
#include "base/TextUtils.h"
#include "run/Journal.h"
#include "run/ui/TimelineView.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageTabs.h"

namespace ristova::test {
namespace {

using run::Span;

class HistoryPageTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        WriteProgFile("记录测试.PSW",
                      "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=2\nedStateCmd=51\n[COMM]\nCOMM1=" +
                          std::string(name) +
                          "\n[COMMAND]\n"
                          "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n"
                          "Row1=   1^^0101^^0100^^空调^^风扇^^ X^^\n"
                          "Row2=   2^^0201^^0200^^照明^^水泵^^ X^^\n");
        WriteProgFile("系统参数.INI", "[RUN]\nsPowerFn=记录测试.PSW\n");
        WriteProgFile("记录测试/计划表.tab",
                      "1^^1^^01:00:00^^接通^^^^^^\r\n2^^1^^03:00:00^^断开^^^^^^\r\n");
        WriteProgFile("记录测试/夜间.tab", "1^^2^^02:00:00^^接通^^^^^^\r\n");
    }
    void TearDown() override {
        WindowFixture::TearDown();
        close(master_);
        close(slave_);
    }
    ui::HistoryPage* Page() { return window_->Page4(); }
    // Yesterday in the journal: the board follows the plan late, ignores a
    // manual switch, the plan table changes at 02:30, the line is lost from
    // 02:30 to 02:45.
    void JournalYesterday() {
        yesterday_ = model_->Context().clock.Now().date.AddDays(-1);
        const std::string day = DateText(true, yesterday_) + " ";
        auto add = [&](const char* time, int relay, const char* kind, const char* source,
                       const char* result, const char* detail = "") {
            model_->Journal()->OnRunEvent(
                {day + time, "记录测试.PSW", relay, kind, source, result, detail});
        };
        add("00:10:00.000", 0, "run", "engine", "plan chosen", "计划表.tab");
        add("00:10:00.001", 0, "run", "engine", "started");
        add("01:00:00.010", 1, "on", "plan", "sent", "0101");
        add("01:00:05.000", 1, "state", "board", "1");
        add("02:00:00.000", 1, "state", "board", "0");
        add("02:20:00.000", 2, "on", "manual", "sent", "0201");
        add("02:20:03.000", 2, "mismatch", "board", "0", "wanted 1");
        add("02:30:00.000", 0, "line", "engine", "lost");
        add("02:30:00.000", 0, "run", "engine", "plan chosen", "夜间.tab");
        add("02:45:00.000", 0, "line", "engine", "reconnected");
    }
    void OpenPage() {
        window_->show();
        QTabBar* bar = window_->PC()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(4).center());
        ASSERT_EQ(window_->PC()->currentIndex(), 4);
        QApplication::processEvents();
    }
    void TypeDate(const Date& d) {
        // The year section first, then each section typed over in turn.
        Page()->dtDay()->setFocus();
        Page()->dtDay()->setSelectedSection(QDateTimeEdit::YearSection);
        QTest::keyClicks(Page()->dtDay(), QString::fromStdString(DateText(false, d)));
        QTest::keyClick(Page()->dtDay(), Qt::Key_Enter);
        ASSERT_EQ(Page()->ShownDate(), d);
    }
    QPoint At(int relay, int second) {
        run::ui::TimelineView* t = Page()->Timeline();
        return {t->XOf(second), t->RowTop(relay) + t->RowHeight() / 2};
    }

    int master_ = -1, slave_ = -1;
    Date yesterday_;
};

TEST_F(HistoryPageTest, ADayWithAPlanChangeAndALostLineAsPeriodsAndAsAPicture) {
    Create();
    JournalYesterday();
    // Relay 2 flipped from 03:45 to 04:00, kept as one aggregated row.
    model_->Journal()->OnRunEvent({DateText(true, yesterday_) + " 04:00:00.000", "记录测试.PSW", 2,
                                   "state", "board", "0", "aggregated 900 from 03:45:00.000"});
    OpenPage();
    TypeDate(yesterday_);
    ASSERT_EQ(Page()->Events().size(), 11u);
    const run::DayTimeline& day = Page()->Timeline()->Day();
    EXPECT_EQ(day.relays[1].chatter, (std::vector<Span>{{13500, 14401}}));
    ASSERT_EQ(day.relays.size(), 2u);
    // Relay 1's plan ends where the other table takes over; relay 2's begins.
    EXPECT_EQ(day.relays[0].plan, (std::vector<Span>{{3600, 9000}}));
    EXPECT_EQ(day.relays[1].plan, (std::vector<Span>{{9000, 86400}}));
    EXPECT_EQ(day.relays[0].board, (std::vector<Span>{{3605, 7200}}));
    EXPECT_EQ(day.lineLost, (std::vector<Span>{{9000, 9900}}));
    ASSERT_EQ(day.relays[1].mismatches.size(), 1u);
    EXPECT_EQ(day.relays[1].mismatches[0].second, 8403);

    const QImage image = Page()->Timeline()->grab().toImage();
    using View = run::ui::TimelineView;
    EXPECT_EQ(image.pixelColor(At(1, 5400)), View::kBoardColour);
    // Planned on, reported off: only the light bar.
    const QPoint mismatch = At(1, 8000);
    EXPECT_EQ(image.pixelColor(mismatch), View::kPlanColour);
    EXPECT_EQ(image.pixelColor(At(1, 40000)), QColor(Qt::white));
    int hatch = 0;
    for (int x = At(1, 9000).x() + 2; x < At(1, 9900).x() - 1; ++x)
        hatch += image.pixelColor(x, At(2, 0).y()) == QColor(120, 120, 120);
    EXPECT_GT(hatch, 0);
    EXPECT_EQ(image.pixelColor(At(2, 8403).x(), Page()->Timeline()->RowTop(2) + 3),
              View::kMismatchColour);
    // The flipping relay's band is hatched, not solid.
    int board = 0, plan = 0;
    for (int x = At(2, 13500).x() + 1; x < At(2, 14400).x(); ++x) {
        for (int y = At(2, 0).y() - 2; y <= At(2, 0).y() + 2; ++y) {
            const QColor c = image.pixelColor(x, y);
            board += c == View::kBoardColour;
            plan += c == View::kPlanColour;
        }
    }
    EXPECT_GT(board, 0);
    EXPECT_GT(plan, 0);
    QTest::mouseMove(Page()->Timeline(), At(2, 13800));
    EXPECT_TRUE(Page()->Timeline()->HoverText().endsWith(QStringLiteral("频繁变化")))
        << Page()->Timeline()->HoverText().toStdString();

    QTest::mouseMove(Page()->Timeline(), At(2, 8400));
    EXPECT_TRUE(Page()->Timeline()->HoverText().endsWith(
        QStringLiteral("未按指令动作  应为接通  实际断开")))
        << Page()->Timeline()->HoverText().toStdString();
    QTest::mouseMove(Page()->Timeline(), At(1, 3600));
    EXPECT_TRUE(Page()->Timeline()->HoverText().endsWith(QStringLiteral("接通 计划 已发送")))
        << Page()->Timeline()->HoverText().toStdString();
    QTest::mouseMove(Page()->Timeline(), mismatch);
    EXPECT_TRUE(Page()->Timeline()->HoverText().contains(QStringLiteral("计划:接通  实际:断开")));

    // The wheel zooms around the pointer, down to an hour; the slider follows.
    for (int i = 0; i < 6; ++i) {
        QWheelEvent wheel(QPointF(mismatch), Page()->Timeline()->mapToGlobal(QPointF(mismatch)),
                          {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Page()->Timeline(), &wheel);
    }
    EXPECT_EQ(Page()->Timeline()->ViewSeconds(), 3600);
    EXPECT_EQ(Page()->slZoom()->value(), 1);
    EXPECT_LE(Page()->Timeline()->ViewFrom(), 8000);
    EXPECT_GT(Page()->Timeline()->ViewFrom() + 3600, 8000);
}

TEST_F(HistoryPageTest, TheTableFiltersByRelayNewestFirstAndExportsWhatItShowsInChinese) {
    Create();
    JournalYesterday();
    OpenPage();
    TypeDate(yesterday_);
    QTableWidget* table = Page()->tbEvents();
    ASSERT_EQ(table->rowCount(), 10);
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < 6; ++c) cells << table->item(r, c)->text();
        return cells.join(QLatin1Char('|'));
    };
    EXPECT_EQ(row(0), QStringLiteral("02:45:00.000||通信|程序|已重新连接|"));
    EXPECT_EQ(row(2), QStringLiteral("02:30:00.000||通信|程序|通信中断|"));
    EXPECT_EQ(row(5), QStringLiteral("02:00:00.000|1|状态|控制器|断开|"));
    EXPECT_EQ(row(9), QStringLiteral("00:10:00.000||运行|程序|选定计划表|计划表.tab"));
    // Relay 2 only: the board ignored the manual switch.
    Page()->cbRelay()->showPopup();
    QTest::keyClick(Page()->cbRelay()->view(), Qt::Key_Down);
    QTest::keyClick(Page()->cbRelay()->view(), Qt::Key_Down);
    QTest::keyClick(Page()->cbRelay()->view(), Qt::Key_Enter);
    ASSERT_EQ(Page()->cbRelay()->currentText(), QStringLiteral("2 照明"));
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(row(0), QStringLiteral("02:20:03.000|2|不一致|控制器|断开|应为接通"));
    EXPECT_EQ(row(1), QStringLiteral("02:20:00.000|2|接通|手动|已发送|0201"));

    std::string proposed;
    Page()->SetExportPicker([&](const std::string& p) -> std::optional<std::string> {
        proposed = p;
        return Prog("export.csv");
    });
    QTest::mouseClick(Page()->btnExport(), Qt::LeftButton);
    const std::string day = DateText(true, yesterday_);
    EXPECT_EQ(proposed, Prog("运行记录-" + day + ".csv"));
    EXPECT_EQ(dir_.Read("export.csv"),
              "\xEF\xBB\xBF时间,控制器,继电器,类型,来源,结果,说明\r\n" + day +
                  " 02:20:03.000,记录测试.PSW,2,不一致,控制器,断开,应为接通\r\n" + day +
                  " 02:20:00.000,记录测试.PSW,2,接通,手动,已发送,0201\r\n");
}

TEST_F(HistoryPageTest, TodaysPageFollowsARun) {
    Create();
    OpenPage();
    EXPECT_EQ(Page()->ShownDate(), model_->Context().clock.Now().date);
    EXPECT_EQ(Page()->cbController()->currentText(), QStringLiteral("记录测试.PSW"));
    const std::size_t before = Page()->Events().size();
    window_->PC()->setCurrentIndex(0);
    QTest::mouseClick(window_->Page0()->btnRun(), Qt::LeftButton);
    ASSERT_TRUE(model_->Monitor().Running());
    // The board reports relay 2 on.
    const std::string answer = "S(00,01)E";
    ASSERT_EQ(write(master_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    QTabBar* bar = window_->PC()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(4).center());
    ASSERT_TRUE(
        WaitFor([&] { return Page()->tbEvents()->rowCount() > static_cast<int>(before); }, 20000));
    bool started = false;
    for (int r = 0; r < Page()->tbEvents()->rowCount(); ++r)
        started = started || Page()->tbEvents()->item(r, 4)->text() == QStringLiteral("开始运行");
    EXPECT_TRUE(started);
    // The file has them too.
    model_->Journal()->Flush();
    EXPECT_GE(run::ReadJournalDay(model_->Journal()->FilePath(), "记录测试.PSW", Page()->ShownDate())
                  .size(),
              2u);
}

}  // namespace
}  // namespace ristova::test

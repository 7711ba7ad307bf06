// One QApplication for the whole test binary, created when the tests run
// (not when they are only listed), headless unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/ui/AppFont.h"
#include "app/ui/AppLocale.h"

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setFont(ristova::ui::WindowFont());
        // As the program does, so the tests see the dialogs it shows.
        ristova::ui::LoadQtChinese(*app_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

  private:
    QApplication* app_ = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

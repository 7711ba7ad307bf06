#pragma once
// The page "电源控制器设置": lays out the setup page's controls at the design's
// positions inside the 776 x 505 page area, shows the SetupPage model and
// forwards the operator's events to it. Controls carry their design names as
// object names.
#include <QWidget>
#include <functional>

#include "controller/SetupPage.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;

namespace ristova::ui {
class GridModel;
}
namespace ristova::widgets {
class TMyTransBtn;
}

namespace ristova::controller::ui {

class RelayCountBox;

class SetupPageWidget : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPageWidth = 776;
    static constexpr int kPageHeight = 505;

    explicit SetupPageWidget(SetupPage& page, QWidget* parent = nullptr);

    // Copies the model's state into the widgets, with their signals blocked.
    void Refresh();

    QTableView* sgComView() const { return sgCom_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Runs a model handler behind the error boundary, then refreshes.
    void Run(const std::function<void()>& handler);
    void BuildControllerBars(QWidget* group);
    void BuildSerialGroup(QWidget* group);
    void ConnectEvents();
    void SyncPortList();

    SetupPage& page_;
    ristova::ui::GridModel* gridModel_ = nullptr;
    bool refreshing_ = false;

    QComboBox* cbComDevList_ = nullptr;
    widgets::TMyTransBtn* btnRefreshDevice_ = nullptr;
    QLineEdit* edNewComDev_ = nullptr;
    widgets::TMyTransBtn* btnAddNewComDev_ = nullptr;
    widgets::TMyTransBtn* btnDelComDev_ = nullptr;
    widgets::TMyTransBtn* btSaveComFn_ = nullptr;
    RelayCountBox* spComChl_ = nullptr;
    QLineEdit* edStateCmd_ = nullptr;
    QComboBox* cbPowerDll_ = nullptr;
    widgets::TMyTransBtn* myTransBtn1_ = nullptr;
    widgets::TMyTransBtn* btnSend_ = nullptr;
    QLineEdit* edASC_ = nullptr;
    widgets::TMyTransBtn* btnASC2Hex_ = nullptr;
    QLineEdit* edHEX_ = nullptr;
    widgets::TMyTransBtn* btnInput_ = nullptr;
    QTableView* sgCom_ = nullptr;
    QPlainTextEdit* mmSpec_ = nullptr;
    QComboBox* cbComm1_ = nullptr;
    QLineEdit* edBound_ = nullptr;
    QComboBox* cbByteSize_ = nullptr;
    QComboBox* cbStopBits_ = nullptr;
    QComboBox* cbParity_ = nullptr;
    QLineEdit* edTimeOut_ = nullptr;
    widgets::TMyTransBtn* btnInitCOMM_ = nullptr;
    QLabel* lbComState_ = nullptr;
    QPlainTextEdit* help_ = nullptr;
};

}  // namespace ristova::controller::ui

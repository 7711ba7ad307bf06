#pragma once
// "同时运行…": a check list of the folder's controllers; those checked run
// together. Each check is stored at once.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QListWidget;

namespace ristova::ui {

class ControllersDialog : public QDialog {
    Q_OBJECT
  public:
    using Chosen = std::function<void(const std::vector<std::string>& files)>;

    ControllersDialog(const std::vector<std::string>& folder, const std::vector<std::string>& listed,
                      Chosen chosen, QWidget* parent = nullptr);
    QListWidget* List() const { return list_; }

  private:
    QListWidget* list_ = nullptr;
};

}  // namespace ristova::ui

#include "app/ui/ControllersDialog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace ristova::ui {

ControllersDialog::ControllersDialog(const std::vector<std::string>& folder,
                                     const std::vector<std::string>& listed, Chosen chosen,
                                     QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ControllersDialog"));
    setWindowTitle(QStringLiteral("同时运行的电源控制器"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("选中两个以上的电源控制器同时运行;\n只选一个或不选时按“选择电源控制器”运行。"),
        this));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstControllers"));
    // The listed ones first in their order, then the rest of the folder.
    std::vector<std::string> names = listed;
    for (const std::string& file : folder)
        if (std::find(names.begin(), names.end(), file) == names.end()) names.push_back(file);
    for (const std::string& name : names) {
        auto* item = new QListWidgetItem(QString::fromStdString(name), list_);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        const bool on = std::find(listed.begin(), listed.end(), name) != listed.end();
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(list_);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(list_, &QListWidget::itemChanged, this, [this, chosen = std::move(chosen)] {
        std::vector<std::string> files;
        for (int i = 0; i < list_->count(); ++i)
            if (list_->item(i)->checkState() == Qt::Checked)
                files.push_back(list_->item(i)->text().toStdString());
        chosen(files);
    });
    resize(300, 260);
}

}  // namespace ristova::ui

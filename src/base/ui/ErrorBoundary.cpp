#include "base/ui/ErrorBoundary.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include "base/Errors.h"

namespace ristova::ui {

bool GuardedCall(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const OperatorError& e) {
        QMessageBox::critical(parent, QStringLiteral("Error"), QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        QMessageBox::critical(parent, QStringLiteral("Error"), QString::fromUtf8(e.what()));
    }
    return false;
}

bool AskYesNo(QWidget* parent, const std::string& question) {
    const QString title = parent ? parent->window()->windowTitle() : QString();
    return QMessageBox::question(parent, title, QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::string DeleteQuestion(const std::string& name) {
    return "确定删除" + name + "吗?";
}

}  // namespace ristova::ui

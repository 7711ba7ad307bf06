#include "base/ui/ErrorBoundary.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include "base/Errors.h"
#include "base/ui/GridModel.h"

namespace ristova::ui {

namespace {
// Set while an open editor is committed; the commit's own handler runs
// through GuardedAction again and must not commit once more.
bool committing = false;
bool commitRefused = false;
}  // namespace

bool GuardedCall(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const OperatorError& e) {
        if (committing) commitRefused = true;
        QMessageBox::critical(parent, QStringLiteral("Error"), QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        if (committing) commitRefused = true;
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

namespace ristova::ui {

bool GuardedAction(QWidget* parent, const std::function<void()>& handler) {
    if (!committing && parent) {
        committing = true;
        commitRefused = false;
        CommitOpenEditors(parent->window());
        committing = false;
        if (commitRefused) return false;
    }
    return GuardedCall(parent, handler);
}

}  // namespace ristova::ui

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

std::function<void(const std::string&)>& RefusedWriteNotice() {
    static std::function<void(const std::string&)> notice;
    return notice;
}

void ShowError(QWidget* parent, const char* message) {
    QMessageBox::critical(parent, QStringLiteral("Error"), QString::fromUtf8(message));
}
}  // namespace

void SetRefusedWriteNotice(std::function<void(const std::string&)> notice) {
    RefusedWriteNotice() = std::move(notice);
}

bool GuardedCall(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const WriteRefused& e) {
        if (committing) commitRefused = true;
        // Every refusal is seen in the status bar; the box comes once per
        // file, not once per keystroke in a read-only folder.
        if (const auto& notice = RefusedWriteNotice()) notice(e.what());
        if (FirstRefusalOf(e.Path())) ShowError(parent, e.what());
    } catch (const std::exception& e) {
        if (committing) commitRefused = true;
        ShowError(parent, e.what());
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

#include "base/ui/ErrorBoundary.h"

#include <QMessageBox>
#include <QString>

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

}  // namespace ristova::ui

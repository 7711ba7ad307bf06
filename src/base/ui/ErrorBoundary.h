#pragma once
// The one place where core errors meet the operator: an event handler runs
// inside GuardedCall, an OperatorError becomes the error message box, and
// the program goes on.
#include <functional>

class QWidget;

namespace ristova::ui {

// Returns false when the call ended with an error (already shown).
bool GuardedCall(QWidget* parent, const std::function<void()>& handler);

}  // namespace ristova::ui

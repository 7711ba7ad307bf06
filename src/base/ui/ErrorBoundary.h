#pragma once
// The one place where core errors meet the operator: an event handler runs
// inside GuardedCall, an OperatorError becomes the error message box, and
// the program goes on.
#include <functional>
#include <string>

class QWidget;

namespace ristova::ui {

// Returns false when the call ended with an error (already shown).
bool GuardedCall(QWidget* parent, const std::function<void()>& handler);
// An operator's action on a page: the cell editor still open in the window
// is committed first, so that the action sees the typed text. When the grid
// refuses that text (its message already shown) the action does not run.
// Timer ticks use GuardedCall, which leaves an open editor alone.
bool GuardedAction(QWidget* parent, const std::function<void()>& handler);

// A question before something that cannot be undone; "否" is the default, so
// an Enter pressed out of habit destroys nothing. True for "是".
bool AskYesNo(QWidget* parent, const std::string& question);
// "确定删除" + name + "吗?"
std::string DeleteQuestion(const std::string& name);
// Where a refused write is told besides the first message box of its file
// (the window's panel 3). Empty: nowhere.
void SetRefusedWriteNotice(std::function<void(const std::string&)> notice);

}  // namespace ristova::ui

#pragma once
// Small pieces shared by the Qt pages: placing controls at the design's
// pixel positions and copying a page model's control states into widgets
// without running their change signals.
#include <QString>
#include <string>

#include "base/PageControls.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace ristova::widgets {
class TMyTransBtn;
}

namespace ristova::ui {

inline QString Qs(const std::string& text) {
    return QString::fromUtf8(text);
}
inline std::string Std(const QString& text) {
    return text.toUtf8().toStdString();
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int x, int y, int w, int h = 17);
// The pages' picture button with the state's caption and hint.
widgets::TMyTransBtn* MakeTransButton(QWidget* parent, const ButtonState& state, const char* name,
                                      int x, int y, int w, int h = 21);
QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h = 21);
QComboBox* MakePickList(QWidget* parent, const char* name, int x, int y, int w, int h = 20);

// Each sets only what differs, with the widget's signals blocked, so that a
// refresh neither moves the cursor nor runs a handler.
void SyncEdit(QLineEdit* edit, const EditField& field);
void SyncPickList(QComboBox* box, const PickList& list);
void SyncButton(widgets::TMyTransBtn* button, const ButtonState& state);

}  // namespace ristova::ui

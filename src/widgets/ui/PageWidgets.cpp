#include "widgets/ui/PageWidgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "widgets/ui/MyTransBtn.h"

namespace ristova::ui {

QLabel* MakeLabel(QWidget* parent, const QString& caption, int x, int y, int w, int h) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

widgets::TMyTransBtn* MakeTransButton(QWidget* parent, const ButtonState& state, const char* name,
                                      int x, int y, int w, int h) {
    widgets::TMyTransBtn* button = widgets::MakePageButton(Qs(state.caption), parent, w, h);
    button->setObjectName(QString::fromLatin1(name));
    button->move(x, y);
    SyncButton(button, state);
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, w, h);
    return edit;
}

QComboBox* MakePickList(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(false);
    box->setGeometry(x, y, w, h);
    return box;
}

void SyncEdit(QLineEdit* edit, const EditField& field) {
    const QSignalBlocker blocker(edit);
    const QString text = Qs(field.text);
    if (edit->text() != text) edit->setText(text);
    const QString hint = Qs(field.hint);
    if (edit->toolTip() != hint) edit->setToolTip(hint);
    if (edit->isEnabled() != field.enabled) edit->setEnabled(field.enabled);
}

void SyncPickList(QComboBox* box, const PickList& list) {
    const QSignalBlocker blocker(box);
    bool same = box->count() == static_cast<int>(list.items.size());
    for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == Qs(list.items[i]);
    if (!same) {
        box->clear();
        for (const auto& item : list.items) box->addItem(Qs(item));
    }
    if (box->currentIndex() != list.itemIndex) box->setCurrentIndex(list.itemIndex);
    const QString hint = Qs(list.hint);
    if (box->toolTip() != hint) box->setToolTip(hint);
}

void SyncButton(widgets::TMyTransBtn* button, const ButtonState& state) {
    const QString caption = Qs(state.caption);
    if (button->Caption() != caption) button->SetCaption(caption);
    const QString hint = Qs(state.hint);
    if (button->toolTip() != hint) button->setToolTip(hint);
    if (button->isEnabled() != state.enabled) button->setEnabled(state.enabled);
}

}  // namespace ristova::ui

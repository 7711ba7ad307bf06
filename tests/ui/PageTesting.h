#pragma once
// Driving page widgets the way the operator does: typing into fields,
// picking list entries, answering the error box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "base/StringGrid.h"

namespace ristova::test::ui {

template <class T>
T* Find(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

inline void Key(QWidget* w, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// Replaces the field's text keystroke by keystroke, as typing over a
// selection does, so that each keystroke reaches the page.
inline void Retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    Key(edit, Qt::Key_Backspace);
    for (const QChar ch : text) Key(edit, Qt::Key_unknown, QString(ch));
}

inline void Pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Closes the next modal box (the error message) once it is up, however
// long it takes to come; `seen` looks at it first.
inline void AcceptNextMessageBox(std::function<void(QWidget*)> seen = {}) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, seen] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (seen) seen(modal);
            modal->close();
            timer->deleteLater();
        }
    });
    timer->start();
}

// What a question box asked, and which button was its default.
struct Asked {
    QString text;
    QString yesText;  // the caption of the yes button, as Qt's translation gives it
    bool defaultIsNo = false;
    bool asked = false;
};

// Answers the next question box with a click on "是" (yes) or "否" (no).
inline void AnswerNextQuestion(bool yes, Asked* asked = nullptr);

// Presses and releases the left button at a point of a widget; twice adds
// the double click that a second quick press makes.
inline void Click(QWidget* w, const QPoint& at, bool twice = false) {
    const QPoint global = w->mapToGlobal(at);
    auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    if (!twice) return;
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

inline void ClickCell(QTableView* view, int col, int row, bool twice = false) {
    Click(view->viewport(), view->visualRect(view->model()->index(row, col)).center(), twice);
}

inline void AnswerNextQuestion(bool yes, Asked* asked) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, yes, asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        timer->deleteLater();
        if (asked) {
            asked->asked = true;
            asked->text = box->text();
            if (QAbstractButton* b = box->button(QMessageBox::Yes)) asked->yesText = b->text();
            asked->defaultIsNo = static_cast<QAbstractButton*>(box->defaultButton()) ==
                                 box->button(QMessageBox::No);
        }
        QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
        if (!button) {
            box->close();
            return;
        }
        Click(button, button->rect().center());
    });
    timer->start();
}

// The grid's heading row is drawn in the header above the body, not as a
// body row, and the body shows the grid's current row.
inline void ExpectHeadingAboveScrolledBody(QTableView* view, const StringGrid& grid) {
    const QHeaderView* heading = view->horizontalHeader();
    EXPECT_TRUE(heading->isVisible());
    EXPECT_EQ(heading->height(), grid.DefaultRowHeight());
    EXPECT_LE(heading->geometry().bottom(), view->viewport()->geometry().top());
    EXPECT_TRUE(view->isRowHidden(0));
    EXPECT_GT(view->verticalScrollBar()->value(), 0) << "the body did not scroll";
    const QRect current = view->visualRect(view->model()->index(grid.Row(), 0));
    EXPECT_TRUE(view->viewport()->rect().contains(current.center()));
}

// Opens the cell's editor with a double click and types into it with key
// events; the editor is left open, as it is when the operator reaches for
// a button next.
inline QWidget* TypeIntoOpenCell(QTableView* view, int col, int row, const QString& text) {
    const QModelIndex index = view->model()->index(row, col);
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QWidget* editor = view->indexWidget(index);
    EXPECT_NE(editor, nullptr) << "no editor opened at " << col << "," << row;
    if (!editor) return nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->selectAll();
    // Key by key; QTest::keyClicks knows ASCII keys only.
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, editor, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    return editor;
}

inline void ClickButton(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

}  // namespace ristova::test::ui

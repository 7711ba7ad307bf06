#pragma once
// Driving page widgets the way the operator does: typing into fields,
// picking list entries, answering the error box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

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

// Closes the next modal box (the error message) once it is up.
inline void AcceptNextMessageBox() {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
            timer->deleteLater();
        }
    });
    timer->start();
}

}  // namespace ristova::test::ui

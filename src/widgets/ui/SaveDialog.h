#pragma once
// The pages' save dialog: Qt's own rather than the desktop's, so that it
// looks and behaves the same everywhere the window runs.
#include <QString>
#include <optional>
#include <string>

class QWidget;

namespace ristova::ui {

struct SaveDialogSetup {
    QString objectName;
    QString title;
    QString folder;         // where it starts
    QString fileName;       // the name it proposes, in folder or as a full path
    QString nameFilter;     // "text (*.ext)"
    QString defaultSuffix;  // added to a name typed without one; empty: none
    bool replaceWithoutAsking = false;
};

// The chosen path; nullopt when the operator cancelled.
std::optional<std::string> RunSaveDialog(QWidget* parent, const SaveDialogSetup& setup);

}  // namespace ristova::ui

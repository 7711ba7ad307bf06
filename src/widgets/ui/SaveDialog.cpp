#include "widgets/ui/SaveDialog.h"

#include <QFileDialog>

namespace ristova::ui {

std::optional<std::string> RunSaveDialog(QWidget* parent, const SaveDialogSetup& setup) {
    QFileDialog dialog(parent, setup.title);
    dialog.setObjectName(setup.objectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, setup.replaceWithoutAsking);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(setup.nameFilter);
    if (!setup.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(setup.defaultSuffix);
    dialog.setDirectory(setup.folder);
    dialog.selectFile(setup.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toUtf8().toStdString();
}

}  // namespace ristova::ui

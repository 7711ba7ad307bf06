#pragma once
// Qt's own texts (the buttons of message boxes, the save dialog) in Chinese,
// like the rest of the window, whatever the session's language.
class QCoreApplication;

namespace ristova::ui {

// Loads Qt's Chinese translations (Debian's qt6-translations-l10n) into the
// application; false when they are not installed (Qt's English stays).
bool LoadQtChinese(QCoreApplication& app);

}  // namespace ristova::ui

#pragma once
// The window's font: 宋体 at 12 pixels (9 pt); where SimSun is missing, the
// installed CJK font whose widths are SimSun's (fonts-wqy-zenhei's Mono face).
#include <QFont>
#include <string>
#include <vector>

namespace ristova::ui {

QFont WindowFont();

// Qt's platform argument for the FreeType font engine: Wine's GDI clips the
// top strokes of small CJK glyphs (电 reads as 申), FreeType draws them
// whole. Windows itself draws these fonts well, so only under Wine, and never
// over the user's own choice of platform (-platform in qtArgs, or
// platformVariable, the value of QT_QPA_PLATFORM, or null).
extern const char* const kFreeTypePlatform;
bool WantsFreeType(const std::vector<std::string>& qtArgs, const char* platformVariable,
                   bool underWine);

// For the FreeType engine on Windows: the font collections (.ttc) that hold
// the window font's families, loaded as the application's own fonts. That
// engine finds a face's file through the registry, where Wine lists each face
// of a collection on its own, and so reads its first face for all of them:
// WenQuanYi Zen Hei, proportional, for the Mono face, whose texts then
// overflow the columns made for SimSun. Loaded from the file, each face keeps
// its own index.
void LoadFontCollections();

}  // namespace ristova::ui

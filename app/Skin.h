#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;

namespace vrax::Skin {

inline const QColor Background{239, 235, 222};
inline const QColor WindowBorder{0, 44, 200};
inline const QColor GroupBorder{104, 104, 104};
inline const QColor ReadOnlyField{192, 220, 192};
inline const QColor TitleLight{58, 110, 230};
inline const QColor TitleDark{0, 44, 200};

inline constexpr int BorderWidth = 3;
inline constexpr int TitleBarHeight = 24;

// A font as the window's layout gives it: face, character height in pixels, weight.
QFont DesignFont(const QString& family, int pixelSize, bool bold = false);

// Where the face is not installed, narrows the stand-in so that texts fit the layout. Where the
// face is installed but cannot draw a field's line, the carried face takes its place.
void MatchLayoutWidth(QFont& font);

// Whether a field made for the font's size shows its text in that font.
bool DrawsLegibly(const QFont& font);

// The look of the skinned controls; set on the main window, so it reaches its children only.
QString StyleSheet();

// The base style the skin's rules build on; in the Windows programs also the face they carry,
// standing in for every design face and the system's default face that the system lacks.
void InstallApplicationLook(QApplication& application);

} // namespace vrax::Skin

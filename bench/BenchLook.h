#pragma once

#include <QColor>
#include <QString>

// The bench's own look: dark slate with amber, so that nobody takes it for the station.
namespace vrax::BenchLook {

inline const QColor Background{30, 39, 48};
inline const QColor Panel{39, 50, 61};
inline const QColor Border{63, 78, 92};
inline const QColor Text{230, 237, 243};
inline const QColor TextDim{130, 148, 165};
inline const QColor Accent{242, 165, 65};
inline const QColor Teal{60, 196, 180};

inline const QColor Pass{76, 208, 125};
inline const QColor Fail{240, 86, 91};
inline const QColor Mismatch{242, 155, 56};
inline const QColor NoVerdict{150, 160, 170};

inline const QColor HexBackground{21, 28, 34};
inline const QColor HexHeader{32, 42, 51};
inline const QColor HexAddress{108, 129, 147};
inline const QColor HexText{216, 226, 234};
inline const QColor Difference{242, 165, 65};
inline const QColor DifferenceText{21, 28, 34};
inline const QColor FactoryFrame{60, 196, 180};

QString StyleSheet();

} // namespace vrax::BenchLook

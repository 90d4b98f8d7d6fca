#pragma once
// The pictures the windows paint themselves: the splash window's two
// pictures and the four 12 x 12 lamps of the comms-test indicators. Painted
// at the screen's device pixel ratio so they stay sharp on high-DPI screens.

#include <QColor>
#include <QPixmap>
#include <QSize>

namespace Artwork {

// The splash pictures: element 0 is 266 x 168, element 1 the small link
// emblem start-up reveals once the files are being read.
QSize splashPictureSize(int index);
QPixmap splashPicture(int index, qreal devicePixelRatio = 1.0);

// MdmLight(0..3): dark green, bright green, dark red, bright red.
constexpr int kLampSize = 12;
QColor mdmLightColor(int index);
QPixmap mdmLight(int index, qreal devicePixelRatio = 1.0);

} // namespace Artwork

// Icons drawn in code at exactly the pixel size a screen asks for: a picture designed on a
// small square grid (12 or 16 logical pixels) is painted afresh for a device pixel ratio of 1,
// 1.25, 2 or 3 instead of being scaled from a bitmap, and with the colours of the current
// palette, so that outlines stay visible on a dark theme.
#pragma once

#include <functional>

#include <QIcon>

class QPainter;

namespace quillon {

// Paints the picture on its grid (0..grid in both directions). `dark` tells that the palette
// the icon is shown on is dark.
using IconPainter = std::function<void(QPainter& painter, bool dark)>;

QIcon DrawnIcon(int grid, IconPainter paint);

// The picture at `grid` times `scale` device pixels, its device pixel ratio set to `scale`.
QPixmap DrawnPixmap(int grid, const IconPainter& paint, qreal scale, bool dark);

// Whether the application's palette is a dark one (light text on dark windows).
bool IsDarkPalette();

}  // namespace quillon

#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

class QLabel;

// The program's pictures at every scale factor. Each ":img/NAME.png" has ":img/NAME@2x.png" and
// ":img/NAME@3x.png" beside it; the paths and the 1x sizes callers use stay the 1x ones.
namespace Pictures {

// The rendition to draw from at the given device pixel ratio: the smallest one at least as large,
// else the largest there is, else the path itself.
QString renditionPath(const QString& path, qreal devicePixelRatio);

// The picture at its 1x size in device-independent pixels and at the given ratio in device
// pixels, made from the sharpest fitting rendition. Null when the path does not exist. Decoded once:
// the same path and ratio give the same pixmap for the whole run.
QPixmap pixmap(const QString& path, qreal devicePixelRatio);

// An icon holding every rendition, so each screen, tray and menu picks the one that fits; each
// rendition is decoded the first time it is drawn. Icons are shared: the same path gives the same
// icon (and cacheKey) for the whole run.
QIcon icon(const QString& path);

// The same, carrying themeName as its name (QIcon::name()): a StatusNotifierItem host shows the
// theme's icon of that name where it has one and these pixels elsewhere. QIcon::fromTheme() would
// not do: where the program's own theme lookup fails (run from the build tree, another prefix) it
// returns the fallback without a name, and the host is never told it.
QIcon themedIcon(const QString& themeName, const QString& path);

// Shows the picture in the label at the label's own ratio, and again at the new ratio whenever the
// label moves to a screen with another one.
void setLabelPicture(QLabel* label, const QString& path);

// Reads the style's own pictures the way ours are read, before any window draws with them.
void seedStylePictures();

} // namespace Pictures

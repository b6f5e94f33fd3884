// The program's icon. The desktop gets it as an SVG in the icon theme; the
// window paints the same picture itself, so it shows the icon where no SVG
// reader is installed and before the program is installed at all.
#pragma once

#include <QIcon>

namespace tarnhold::gui {

QIcon AppIcon();

} // namespace tarnhold::gui

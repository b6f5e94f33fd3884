// Where the window's dialogs appear.
#pragma once

#include <QRect>
#include <QScreen>
#include <QWidget>

namespace tarnhold::gui {

// Centres a window on the screen it is shown on (call once it is shown, when
// its frame is known).
inline void CenterOnScreen(QWidget& window) {
    if (QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

} // namespace tarnhold::gui

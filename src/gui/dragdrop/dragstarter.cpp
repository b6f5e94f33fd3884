#include "dragdrop/dragstarter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDragEnterEvent>
#include <QMouseEvent>
#include <algorithm>

namespace tarnhold::gui {

TDragStarter::TDragStarter(QAbstractItemView* view, TMayStart mayStart, TStart start)
    : QObject(view), viewport_(view->viewport()), mayStart_(std::move(mayStart)),
      start_(std::move(start)) {
    viewport_->installEventFilter(this);
}

int TDragStarter::Distance() {
    return std::max(3, QApplication::startDragDistance());
}

bool TDragStarter::eventFilter(QObject* watched, QEvent* event) {
    // Compared with the viewport kept, not asked of the view: the viewport
    // still has events while the view is being destroyed.
    if (watched != viewport_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Judged before the view acts on the press (which may select what
        // was pressed).
        if ((mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton) &&
            !dragging_) {
            pressed_ = mouse->position().toPoint();
            hasPress_ = mayStart_(pressed_);
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        hasPress_ = false;
        break;
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (dragging_ || !hasPress_ || !(mouse->buttons() & (Qt::LeftButton | Qt::RightButton)))
            break;
        const QPoint moved = mouse->position().toPoint() - pressed_;
        if (std::abs(moved.x()) < Distance() && std::abs(moved.y()) < Distance())
            break;
        hasPress_ = false;
        dragging_ = true;
        start_();
        dragging_ = false;
        // The view saw the press but not the release (the drag took it): it
        // must not go on selecting rows as the mouse moves.
        return true;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        static_cast<QDropEvent*>(event)->ignore();
        return true;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void RefuseDrops(QAbstractItemView* view) {
    view->setDragEnabled(false);
    view->setDragDropMode(QAbstractItemView::NoDragDrop);
    view->setAcceptDrops(false);
    view->viewport()->setAcceptDrops(false);
}

} // namespace tarnhold::gui

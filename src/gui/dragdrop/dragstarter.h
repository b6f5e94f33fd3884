// When a drag out of a view starts: a press of the left or right button,
// then a move of at least the desktop's drag distance (never less than 3
// pixels) with the button still held, no drag running. The view decides
// whether the pressed place may start one (the tree: only its selected
// item) and what is dragged.
#pragma once

#include <QObject>
#include <QPoint>
#include <functional>

class QAbstractItemView;

namespace tarnhold::gui {

class TDragStarter : public QObject {
    Q_OBJECT
public:
    // May a drag start from this press point (viewport coordinates)? Asked
    // when the button goes down, before the view acts on the press.
    using TMayStart = std::function<bool(const QPoint& pressed)>;
    // Runs the drag (modal until the drop or the cancel).
    using TStart = std::function<void()>;

    // Watches view's viewport; owned by view.
    TDragStarter(QAbstractItemView* view, TMayStart mayStart, TStart start);

    bool Dragging() const { return dragging_; }
    // The least move that starts a drag.
    static int Distance();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QObject* viewport_;
    TMayStart mayStart_;
    TStart start_;
    QPoint pressed_;
    bool hasPress_ = false;
    bool dragging_ = false;
};

// Nothing can be dropped onto view: its own drag and drop (which an icon view
// turns on for icons that move) is off, and every drag over it is refused.
// Called again whenever the view's mode changes.
void RefuseDrops(QAbstractItemView* view);

} // namespace tarnhold::gui

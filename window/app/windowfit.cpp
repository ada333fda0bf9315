#include "app/windowfit.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

QPoint PlaceWithin(const QRect& available, const QSize& frame) {
    QRect placed(QPoint(), frame);
    placed.moveCenter(available.center());
    // Right and bottom first, so that the top left corner wins on a screen
    // too small for the whole window.
    placed.moveRight(qMin(placed.right(), available.right()));
    placed.moveBottom(qMin(placed.bottom(), available.bottom()));
    placed.moveLeft(qMax(placed.left(), available.left()));
    placed.moveTop(qMax(placed.top(), available.top()));
    return placed.topLeft();
}

}  // namespace

bool OnWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QRect FitWithin(const QRect& available, const QSize& designed, const QMargins& frame, int scrollBar) {
    const QSize room = available.size().shrunkBy(frame);
    bool across = false;  // a scroll bar along the bottom
    bool down = false;    // a scroll bar along the right side
    // A bar takes room from the other direction, so each may call for the other.
    for (int pass = 0; pass < 2; ++pass) {
        across = designed.width() + (down ? scrollBar : 0) > room.width();
        down = designed.height() + (across ? scrollBar : 0) > room.height();
    }
    const QSize size = (designed + QSize(down ? scrollBar : 0, across ? scrollBar : 0))
                           .boundedTo(room)
                           .expandedTo(QSize(4 * scrollBar, 4 * scrollBar));
    const QPoint corner = PlaceWithin(available, size.grownBy(frame));
    return QRect(corner + QPoint(frame.left(), frame.top()), size);
}

void FitCaption(QAbstractButton* control) {
    control->ensurePolished();  // a style sheet's font
    const bool option = qobject_cast<QRadioButton*>(control) != nullptr;
    // How much wider the caption is than the room its control gives it.
    auto shortfall = [control, option] {
        QStyleOptionButton drawn;
        drawn.initFrom(control);
        const QStyle::SubElement contents = option ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents;
        const int room = control->style()->subElementRect(contents, &drawn, control).width();
        return control->fontMetrics().horizontalAdvance(control->text()) - room;
    };
    QWidget* container = control->parentWidget();
    if (option && container && shortfall() > 0) {
        const int edge = container->contentsRect().right() + 1 - control->x();
        control->resize(qMax(control->width(), qMin(control->width() + shortfall(), edge)), control->height());
    }
    QFont font = control->font();
    while (shortfall() > 0 && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        control->setFont(font);
    }
}

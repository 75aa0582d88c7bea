#pragma once

#include <QLabel>
#include <QPainter>
#include <QStyleOption>

// The status bar's outcome line: it never widens the window, so a text longer than its room is
// drawn cut with "..." and is given whole as the tool tip. text() stays the whole text.
class StatusLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QRect room = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
        const QString tip = shown == text() ? QString() : text();
        if (toolTip() != tip)
            setToolTip(tip);
        QPainter painter(this);
        QStyleOption option;
        option.initFrom(this);
        style()->drawItemText(&painter, room, int(alignment()), option.palette, isEnabled(), shown,
                              foregroundRole());
    }
};

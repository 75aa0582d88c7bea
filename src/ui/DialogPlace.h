#pragma once

#include <QEvent>
#include <QObject>
#include <QRect>
#include <QWidget>

// Keeps a dialog where it was when it is shown again. A window manager that places a window by
// its frame but reports it by its client area would otherwise move a dialog down by the height of
// its title bar at every showing.
class DialogPlace : public QObject {
public:
    explicit DialogPlace(QWidget* dialog) : QObject(dialog) { dialog->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Hide && !dialog->isMinimized())
            place_ = dialog->geometry();
        else if (event->type() == QEvent::Show && place_.isValid())
            dialog->setGeometry(place_);
        return false;
    }

private:
    QRect place_;
};

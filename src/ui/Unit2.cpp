#include "ui/Unit2.h"

#include "ui/DialogPlace.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TformProgreso* formProgreso = nullptr;

// A tool window of the main window: it stays above Vardel's own windows only, goes with the main
// window when that is minimised, and asks for a title bar without buttons; closing it is refused
// and minimising it undone (changeEvent) where a window manager adds buttons anyway.
TformProgreso::TformProgreso(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("formProgreso"));
    setWindowTitle(QStringLiteral("Progress..."));
    setModal(false);
    new DialogPlace(this);
    setFixedSize(361, 86);

    Progreso = new QProgressBar(this);
    Progreso->setObjectName(QStringLiteral("Progreso"));
    Progreso->setRange(0, 100);
    Progreso->setValue(0);
    Progreso->setTextVisible(true);
    Progreso->setGeometry(44, 8, 273, 33);

    btnCancelar = new QPushButton(QStringLiteral("Cancel..."), this);
    btnCancelar->setObjectName(QStringLiteral("btnCancelar"));
    btnCancelar->setGeometry(8, 52, 90, 26);
    btnCancelar->setAutoDefault(false);
    connect(btnCancelar, &QPushButton::clicked, this, &TformProgreso::btnCancelarClick);

    lbProg = new QLabel(QStringLiteral("    "), this);
    lbProg->setObjectName(QStringLiteral("lbProg"));
    lbProg->setGeometry(108, 52, 245, 26);
}

void TformProgreso::btnCancelarClick()
{
    CancelFlag = 1;
}

void TformProgreso::FormShow()
{
    CancelFlag = 0;
}

void TformProgreso::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
    // The window takes the keyboard while it is shown: Escape, Space and Enter reach Cancel.
    raise();
    activateWindow();
    btnCancelar->setFocus(Qt::ActiveWindowFocusReason);
}

void TformProgreso::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void TformProgreso::changeEvent(QEvent* event)
{
    // Some window managers give every window a minimise button whatever it asks for, and minimise
    // a tool window together with its main window. The window and the program come back at once:
    // the operation goes on and Cancel must stay in reach.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] {
            for (QWidget* w : {parentWidget(), static_cast<QWidget*>(this)})
                if (w && w->isMinimized())
                    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        });
    }
    QDialog::changeEvent(event);
}

void TformProgreso::keyPressEvent(QKeyEvent* event)
{
    // Escape is Cancel; it never closes the window, which the operation hides itself.
    if (event->key() == Qt::Key_Escape) {
        btnCancelar->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

#include "ui/Unit2.h"

#include "ui/DialogPlace.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TformProgreso* formProgreso = nullptr;

// A tool window of the main window: it stays above Vardel's own windows only and goes with the
// main window when that is minimised. Window managers give a framed window the buttons they
// like (openbox a close, minimise and maximise button whatever the window asks for), so it has no
// frame from them: it draws its own border and title bar, by which it is dragged. Minimising it
// is undone (changeEvent) where a window manager does it anyway.
TformProgreso::TformProgreso(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("formProgreso"));
    setWindowTitle(QStringLiteral("Progress..."));
    setModal(false);
    new DialogPlace(this);
    setFixedSize(361, 86 + kTitleHeight);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(rect());
    lbTitle = new QLabel(windowTitle(), this);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    lbTitle->setGeometry(1, 1, width() - 2, kTitleHeight - 1);
    lbTitle->setIndent(6);
    lbTitle->setAutoFillBackground(true);
    QPalette title = lbTitle->palette();
    title.setColor(QPalette::Window, title.color(QPalette::Active, QPalette::Highlight));
    title.setColor(QPalette::WindowText, title.color(QPalette::Active, QPalette::HighlightedText));
    lbTitle->setPalette(title);
    QFont bold = lbTitle->font();
    bold.setBold(true);
    lbTitle->setFont(bold);
    // The dialog takes the presses on its title: dragging it moves the window.
    lbTitle->setAttribute(Qt::WA_TransparentForMouseEvents);

    Progreso = new QProgressBar(this);
    Progreso->setObjectName(QStringLiteral("Progreso"));
    Progreso->setRange(0, 100);
    Progreso->setValue(0);
    Progreso->setTextVisible(true);
    Progreso->setGeometry(44, kTitleHeight + 8, 273, 33);

    btnCancelar = new QPushButton(QStringLiteral("Cancel..."), this);
    btnCancelar->setObjectName(QStringLiteral("btnCancelar"));
    btnCancelar->setGeometry(8, kTitleHeight + 52, 90, 26);
    btnCancelar->setAutoDefault(false);
    connect(btnCancelar, &QPushButton::clicked, this, &TformProgreso::btnCancelarClick);

    lbProg = new QLabel(QStringLiteral("    "), this);
    lbProg->setObjectName(QStringLiteral("lbProg"));
    lbProg->setGeometry(108, kTitleHeight + 52, 245, 26);
}

void TformProgreso::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && event->position().y() < kTitleHeight)
        dragFrom_ = event->globalPosition().toPoint() - pos();
    QDialog::mousePressEvent(event);
}

void TformProgreso::mouseMoveEvent(QMouseEvent* event)
{
    if (dragFrom_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *dragFrom_);
    QDialog::mouseMoveEvent(event);
}

void TformProgreso::mouseReleaseEvent(QMouseEvent* event)
{
    dragFrom_.reset();
    QDialog::mouseReleaseEvent(event);
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

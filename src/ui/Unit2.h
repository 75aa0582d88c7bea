#pragma once

#include <QDialog>
#include <QPoint>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

// The progress window of the EEPROM page: a gauge, a status label and "Cancel...". Cancelling is
// cooperative: the button only sets the flag, the running operation looks at it after each unit
// of work and closes the window itself.
class TformProgreso : public QDialog {
    Q_OBJECT
public:
    explicit TformProgreso(QWidget* parent = nullptr);

    QProgressBar* Progreso;
    QPushButton* btnCancelar;
    QLabel* lbProg;
    // The title the window draws itself, in place of a window manager's title bar.
    QLabel* lbTitle;
    static constexpr int kTitleHeight = 22;

    // The cancel flag (the button's tag): 0 until Cancel is pressed, cleared on every show.
    int CancelFlag = 0;

    void btnCancelarClick();

protected:
    void showEvent(QShowEvent* event) override;
    void FormShow();
    // The title bar has no buttons; Alt+F4 does not close the window, and Escape is Cancel.
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Where in the window the drag by its title began.
    std::optional<QPoint> dragFrom_;
};

extern TformProgreso* formProgreso;

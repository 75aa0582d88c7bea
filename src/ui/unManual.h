#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTimer;

namespace vardel {
class Clock;
class LineDriver;
class PortError;
} // namespace vardel

// The manual line test: each output of the AVR wiring switched by a check box, mirrored to the
// port every 100 ms, and the MISO input shown.
class TformManual : public QDialog {
    Q_OBJECT
public:
    explicit TformManual(QWidget* parent = nullptr);

    // The line driver and clock the window works with; set once before the window is used.
    void setBoard(vardel::LineDriver* lines, vardel::Clock* clock)
    {
        lines_ = lines;
        clock_ = clock;
    }
    // Pulses of the XTAL burst (50,000,000 on the board; tests use fewer).
    long long burstPulses = 50'000'000;

    QCheckBox* cbVCC;
    QCheckBox* cbSCK;
    QCheckBox* cbMOSI;
    QCheckBox* cbRESET;
    QCheckBox* cbXTAL;
    QCheckBox* cbMISO;
    QPushButton* btnParar;
    QPushButton* btnXTAL;
    QPushButton* btnVale;
    QTimer* Timer1;
    QTimer* Timer2;

    void Timer1Timer();
    void Timer2Timer();
    void btnXTALClick();
    void btnPararClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void FormShow();
    void FormHide();

private:
    // A port that failed under the window: its clocks stop, every line it still takes goes low,
    // and the user is told the port and the cause.
    void portFailed(const vardel::PortError& error);

    vardel::LineDriver* lines_ = nullptr;
    vardel::Clock* clock_ = nullptr;
};

extern TformManual* formManual;

#pragma once

#include "hw/host.h"

#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QWidget;
class TformProgreso;

// The Host of the desktop program: Qt message boxes, the application-wide cursor, the progress
// window and the AVR page's gauges.
class QtHost final : public vardel::Host {
public:
    QtHost(QWidget* owner, TformProgreso* progress);

    void setProgress(TformProgreso* progress) { progress_ = progress; }
    void setStatusLabel(QLabel* label) { status_ = label; }
    void setGauges(QProgressBar* flash, QProgressBar* eeprom)
    {
        flash_ = flash;
        eeprom_ = eeprom;
    }
    // Window tests answer message boxes through this instead of a person.
    std::function<Result(const std::string& text, const std::string& caption, Buttons, Icon)>
        answerMessage;

    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override;
    void BusyCursor() override;
    void NormalCursor() override;
    void ProgressShow() override;
    void ProgressHide() override;
    void ProgressLabel(const std::string& text) override;
    void ProgressGauge(int percent) override;
    bool CancelFlag() override;
    void FlashGauge(int percent) override;
    void EepromGauge(int percent) override;
    void ProcessMessages() override;
    void StatusText(const std::string& text) override;

    // The message box as it is shown: the icon of its kind (an error, a warning or a difference, a
    // question, or news), and at least as wide as the caption in its title bar.
    static std::unique_ptr<QMessageBox> makeMessageBox(const std::string& text,
                                                       const std::string& caption, Kind kind,
                                                       Buttons buttons, Icon icon, QWidget* owner);
    static QMessageBox::Icon iconFor(Kind kind, Icon icon);

    // The text as the message box shows it: a carriage return starts a new line.
    static QString displayText(const std::string& text);

    // What to try, for the messages that would leave the user stuck, added after the text as
    // the program gives it; a HEX file's error is prefixed with the file's name. `file` is the
    // file the command in hand works on.
    static std::string withAdvice(const std::string& text, const std::string& file);
    // The file the command in hand works on (the window's last chosen file).
    std::function<std::string()> fileInHand;

    // While a chip command runs, a box that only says something (an OK button alone) waits until
    // the command does anything else the user sees, or until showHeldMessages(): the status bar
    // then already says how the command ended when the box appears. Nests.
    void holdMessages() { ++holding_; }
    void showHeldMessages();
    // Takes the held boxes of this kind away unshown.
    void dropHeldMessages(Kind kind);

private:
    struct Held {
        std::string text, caption;
        Kind kind;
        Icon icon;
    };
    Result show(const std::string& text, const std::string& caption, Kind kind, Buttons buttons,
                Icon icon);
    // Shows what is held, in order, before anything else the user sees.
    void flush();
    int holding_ = 0;
    std::vector<Held> held_;

    QWidget* owner_;
    TformProgreso* progress_;
    QProgressBar* flash_ = nullptr;
    QProgressBar* eeprom_ = nullptr;
    QLabel* status_ = nullptr;
};

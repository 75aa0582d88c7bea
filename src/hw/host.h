#pragma once

#include <string>

namespace vardel {

// Everything the core does to a person goes through a Host: message boxes, the cursor, the
// progress window, the AVR page's gauges and letting queued events run. The desktop program shows
// them with Qt, the command line prints them, tests record them.
class Host {
public:
    // OkCancelDefaultCancel: a confirmation that can lock a chip; Enter (the default button)
    // answers Cancel.
    enum class Buttons { Ok, OkCancel, OkCancelDefaultCancel };
    enum class Icon { None, Exclamation };
    enum class Result { Ok, Cancel };
    // What a message is. A front end chooses where it goes, its icon and the exit status by its
    // kind, never by its words.
    enum class Kind {
        Error,      // the command failed, or refused before it did anything
        Warning,    // it went on, or stopped, with something the user must know
        Question,   // a confirmation: OK or Cancel
        Success,    // the command did what it was asked
        Verdict,    // a verify or blank test found the chip as it should be
        Difference, // a verify or blank test found the chip different, or not blank
    };

    virtual ~Host() = default;

    // Texts that the system joins with a carriage return are shown as separate lines.
    virtual Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                              Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;

    virtual void BusyCursor() = 0;
    virtual void NormalCursor() = 0;

    // The progress window of the EEPROM page. Showing it clears the cancel flag.
    virtual void ProgressShow() = 0;
    virtual void ProgressHide() = 0;
    virtual void ProgressLabel(const std::string& text) = 0;
    virtual void ProgressGauge(int percent) = 0;
    virtual bool CancelFlag() = 0;

    // The AVR page's two gauges.
    virtual void FlashGauge(int percent) = 0;
    virtual void EepromGauge(int percent) = 0;

    // Let queued window events run (repaints, a click on Cancel).
    virtual void ProcessMessages() = 0;

    // One line that says what the operation in hand has reached or how the last one ended; the
    // window shows it in its status bar. A host without one ignores it.
    virtual void StatusText(const std::string& /*text*/) {}
};

} // namespace vardel

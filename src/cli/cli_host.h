#pragma once

#include "hw/host.h"
#include "hw/operation_lock.h"

#include <csignal>
#include <string>

namespace vardel::cli {

// The Host of the command line: messages printed as "CAPTION: text", confirmations answered OK
// only with --yes, a progress bar on standard error when it is a terminal, Ctrl-C as Cancel.
class CliHost final : public Host {
public:
    // `quiet`: no summary line after a command.
    CliHost(bool yes, bool quiet);

    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override;
    void BusyCursor() override {}
    void NormalCursor() override {}
    void ProgressShow() override;
    void ProgressHide() override;
    void ProgressLabel(const std::string& text) override;
    void ProgressGauge(int percent) override;
    bool CancelFlag() override;
    void FlashGauge(int percent) override;
    void EepromGauge(int percent) override;
    // A stop signal becomes a stop request of the running chip operation: the AVR commands look
    // at it after every unit of work and before every erase, lock or fuse write.
    void ProcessMessages() override;
    void stopOnSignal(OperationLock& lock) { stopLock_ = &lock; }

    // The number of the stop signal (SIGINT, SIGTERM, SIGHUP) that arrived, or 0.
    static volatile std::sig_atomic_t interrupted;
    // Whether an error, or a difference a verify or blank test found, was shown.
    bool errorShown() const { return errorShown_; }
    // --yes: confirmations are answered OK.
    bool yes() const { return yes_; }
    // The one line after a successful read, program or verify ("24C256: 32768 bytes
    // programmed, not verified"), on standard error unless --quiet.
    void summary(const std::string& text) const;
    // A note of the command line itself on standard error ("vardel-cli: ...").
    static void note(const std::string& text);
    // What a command that a stop signal did not cut short has done to the chip, for the note
    // after it ("after the fuses were written"); empty when it names nothing.
    std::string doneBeforeStop;

private:
    void drawBar(const char* title, int percent, const std::string& label);

    bool yes_;
    bool quiet_;
    bool terminal_;
    bool progressVisible_ = false;
    bool cancelled_ = false;
    int percent_ = 0;
    std::string label_;
    bool errorShown_ = false;
    OperationLock* stopLock_ = nullptr;
};

} // namespace vardel::cli

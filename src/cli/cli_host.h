#pragma once

#include "hw/host.h"

#include <csignal>

namespace vardel::cli {

// The Host of the command line: messages printed as "CAPTION: text", confirmations answered OK
// only with --yes, a progress bar on standard error when it is a terminal, Ctrl-C as Cancel.
class CliHost final : public Host {
public:
    explicit CliHost(bool yes);

    Result MessageBox(const std::string& text, const std::string& caption, Buttons buttons,
                      Icon icon) override;
    void BusyCursor() override {}
    void NormalCursor() override {}
    void ProgressShow() override;
    void ProgressHide() override;
    void ProgressLabel(const std::string& text) override;
    void ProgressGauge(int percent) override;
    bool CancelFlag() override;
    void FlashGauge(int percent) override;
    void EepromGauge(int percent) override;
    void ProcessMessages() override {}

    // Set by SIGINT.
    static volatile std::sig_atomic_t interrupted;
    // Whether any message with an error caption was shown.
    bool errorShown() const { return errorShown_; }

private:
    void drawBar(const char* title, int percent, const std::string& label);

    bool yes_;
    bool terminal_;
    bool progressVisible_ = false;
    bool cancelled_ = false;
    int percent_ = 0;
    std::string label_;
    bool errorShown_ = false;
};

} // namespace vardel::cli

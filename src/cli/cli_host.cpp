#include "cli/cli_host.h"

#include <cstdio>
#include <unistd.h>

namespace vardel::cli {

volatile std::sig_atomic_t CliHost::interrupted = 0;

CliHost::CliHost(bool yes, bool quiet)
    : yes_(yes), quiet_(quiet), terminal_(::isatty(STDERR_FILENO) != 0)
{
}

void CliHost::summary(const std::string& text) const
{
    if (!quiet_)
        std::fprintf(stderr, "%s\n", text.c_str());
}

void CliHost::ProcessMessages()
{
    if (interrupted && stopLock_)
        stopLock_->requestStop();
}

void CliHost::note(const std::string& text)
{
    std::fprintf(stderr, "vardel-cli: %s\n", text.c_str());
}

Host::Result CliHost::MessageBox(const std::string& text, const std::string& caption, Kind kind,
                                 Buttons buttons, Icon)
{
    if (progressVisible_ && terminal_)
        std::fputs("\n", stderr);
    std::string shown = text;
    for (char& c : shown)
        if (c == '\r')
            c = '\n';
    // Some captions end in a colon of their own ("WARNING:").
    std::string title = caption;
    if (!title.empty() && title.back() == ':')
        title.pop_back();
    // The verdicts of verify and blank test are what those commands produce: they go to standard
    // output with the other results, every other message to standard error.
    std::FILE* stream = kind == Kind::Verdict || kind == Kind::Difference ? stdout : stderr;
    std::fprintf(stream, "%s: %s\n", title.c_str(), shown.c_str());
    std::fflush(stream);
    if (kind == Kind::Error || kind == Kind::Difference)
        errorShown_ = true;
    if (buttons != Buttons::Ok) {
        if (yes_)
            return Result::Ok;
        std::fputs("(not confirmed: run again with --yes to answer OK)\n", stderr);
        return Result::Cancel;
    }
    return Result::Ok;
}

void CliHost::ProgressShow()
{
    progressVisible_ = true;
    cancelled_ = false;
}

void CliHost::ProgressHide()
{
    if (progressVisible_ && terminal_)
        std::fputs("\r\033[K", stderr);
    progressVisible_ = false;
}

void CliHost::ProgressLabel(const std::string& text)
{
    label_ = text;
}

void CliHost::ProgressGauge(int percent)
{
    if (percent == percent_ && !label_.empty())
        return;
    percent_ = percent;
    if (progressVisible_)
        drawBar("", percent, label_);
}

bool CliHost::CancelFlag()
{
    if (interrupted)
        cancelled_ = true;
    return cancelled_;
}

void CliHost::FlashGauge(int percent)
{
    drawBar("Flash ", percent, std::string());
}

void CliHost::EepromGauge(int percent)
{
    drawBar("Internal eeprom ", percent, std::string());
}

void CliHost::drawBar(const char* title, int percent, const std::string& label)
{
    if (!terminal_)
        return;
    const int width = 30;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r%s[%.*s%*s] %3d%% %s\033[K", title, filled,
                 "##############################", width - filled, "", percent, label.c_str());
    if (percent >= 100 && !progressVisible_)
        std::fputs("\n", stderr);
}

} // namespace vardel::cli

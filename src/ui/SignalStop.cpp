#include "ui/SignalStop.h"

#include "files/file_access.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

volatile std::sig_atomic_t SignalStop::received_ = 0;

namespace {
int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal)
{
    const int saved = errno;
    vardel::RemoveUnfinishedTemporaries();
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

SignalStop::SignalStop(TVentana& window) : window_(window)
{
    if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalStop::onSignal);
    // Reads, writes and waits go on where they were: the window looks at the pipe itself.
    vardel::HandleSignals(vardel::kStopSignals, onStopSignal, SA_RESTART);
}

SignalStop::~SignalStop()
{
    vardel::RemoveTemporariesOnSignals();
}

void SignalStop::onSignal()
{
    char byte = 0;
    while (::read(stopPipe[0], &byte, 1) == 1)
        received_ = byte;
    // A question or message waiting for the user is answered as its Cancel (or OK) would be.
    for (int i = 0; i < 16; ++i) {
        const QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal || modal == &window_)
            break;
        modal->close();
        if (modal && modal->isVisible())
            break;
    }
    // The command whose dialog was dismissed runs on from there first.
    QTimer::singleShot(0, &window_, &TVentana::stopOperationThenClose);
}

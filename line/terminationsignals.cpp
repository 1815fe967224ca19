// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int Handled[] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t writeEnd = -1;
// What each signal did before, given back at the end; only those replaced.
struct sigaction previous[std::size(Handled)];
size_t replaced = 0;

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request to end; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    writeEnd = m_pipe[1];
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on: the event loop sees the pipe at its next turn.
    action.sa_flags = SA_RESTART;
    for (replaced = 0; replaced < std::size(Handled); ++replaced) {
        if (::sigaction(Handled[replaced], &action, &previous[replaced]) != 0) {
            m_error = QStringLiteral("sigaction(%1): %2")
                          .arg(Handled[replaced])
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            // Not half set up: a handler already in place would write into a
            // pipe nobody reads, and that signal would no longer end anything.
            restorePrevious();
            return;
        }
    }
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
}

TerminationSignals::~TerminationSignals()
{
    restorePrevious();
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void TerminationSignals::restorePrevious()
{
    for (; replaced > 0; --replaced)
        ::sigaction(Handled[replaced - 1], &previous[replaced - 1], nullptr);
    writeEnd = -1;
}

void TerminationSignals::readPipe()
{
    unsigned char number = 0;
    while (::read(m_pipe[0], &number, 1) == 1)
        emit received(number);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_terminationsignals.cpp"

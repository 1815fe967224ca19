// SPDX-License-Identifier: GPL-3.0-or-later
#include "signalpipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The one pipe of the process: a signal handler can reach nothing else.
int pipeFds[2] = {-1, -1};

const int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending stop; losing this byte is harmless.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalPipe::SignalPipe(QObject *parent)
    : QObject(parent)
{
}

SignalPipe::~SignalPipe()
{
    if (pipeFds[0] < 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (const int signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

bool SignalPipe::install(QString &error)
{
    if (pipeFds[0] >= 0) {
        error = QStringLiteral("signal handlers are already installed");
        return false;
    }
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = QStringLiteral("cannot make a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::readPipe);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : watchedSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0) {
            error = QStringLiteral("cannot install a signal handler: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

void SignalPipe::readPipe()
{
    unsigned char bytes[16];
    ssize_t size;
    while ((size = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < size; ++i)
            emit received(bytes[i]);
    }
}

// Compiled with this file, so the build reads its headers once.
#include "moc_signalpipe.cpp"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "feeder.h"

#include "boardsignal.h"
#include "commframe.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int64_t monotonicUs()
{
    timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

namespace {

void sleepUntilUs(int64_t dueUs)
{
    timespec ts = {};
    ts.tv_sec = time_t(dueUs / 1000000);
    ts.tv_nsec = long(dueUs % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool writeAll(int fd, const char *data, size_t size, int64_t deadlineUs)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The window is not reading: wait, but not past the end of the run.
        if (monotonicUs() > deadlineUs)
            return false;
        pollfd p = {fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

long runFeeder(int master, const FeederPlan &plan, int64_t startUs, int64_t timeBaseUs)
{
    QRandomGenerator rng(plan.seed);
    QRandomGenerator noise(plan.seed + 1);
    BoardSignal board(BoardSignal::Levels{}, plan.seed);
    const double byteUs = 1e6 / (plan.rate * orvale::FrameSize);
    const int64_t endUs = startUs + int64_t(plan.durationS * 1e6);
    const int64_t reports = int64_t(plan.durationS * plan.rate);

    QByteArray stream;  // bytes built but not yet written
    int64_t firstByte = 0;  // global index of stream[0]
    int64_t written = 0;    // reports whose last byte has been written
    int64_t built = 0;
    int64_t nextCut = 0;

    while (written < reports) {
        // Decide the next chunk: a whole frame, or a random number of bytes.
        if (plan.randomCuts)
            nextCut = firstByte + 1 + rng.bounded(40);
        else
            nextCut = firstByte + orvale::FrameSize;
        nextCut = qMin<int64_t>(nextCut, reports * orvale::FrameSize);

        while (firstByte + stream.size() < nextCut) {
            COMM_UART_OBJ frame = {};
            frame.dev_id = 0xA1;
            frame.sa_code = 3;
            frame.fil_code = 4;
            frame.ch_code = 3;
            // The time its last byte is due, relative to the shared base.
            const int64_t doneUs = startUs + int64_t(double((built + 1) * orvale::FrameSize) * byteUs);
            switch (plan.signal) {
            case FeederPlan::Signal::Clock:
                frame.value = uint32_t(doneUs - timeBaseUs);
                break;
            case FeederPlan::Signal::Board:
                frame.value = board.next(frame.sa_code, frame.fil_code);
                break;
            case FeederPlan::Signal::UniformNoise:
                frame.value = uint32_t(370000000 + noise.bounded(-500000, 500001));
                break;
            }
            orvale::sealFrame(frame);
            stream += orvale::frameBytes(frame);
            ++built;
        }

        const int chunk = int(nextCut - firstByte);
        sleepUntilUs(startUs + int64_t(double(nextCut) * byteUs));
        if (!writeAll(master, stream.constData(), size_t(chunk), endUs + 1000000))
            break;
        stream.remove(0, chunk);
        firstByte = nextCut;
        written = firstByte / orvale::FrameSize;
    }
    return long(written);
}

} // namespace

bool Feeder::spawn(const FeederPlan &plan, int64_t timeBaseUs)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios raw = {};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    ::close(slave);
    m_path = QString::fromLocal8Bit(name);

    int startPipe[2];
    int resultPipe[2];
    if (pipe(startPipe) != 0 || pipe(resultPipe) != 0)
        return false;

    m_pid = fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        // Hold nothing of the other runs' feeders, or their pipes never close.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != master && fd != startPipe[0] && fd != resultPipe[1])
                ::close(fd);
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        char go = 0;
        if (::read(startPipe[0], &go, 1) != 1)
            _exit(1);
        const long sent = runFeeder(master, plan, monotonicUs(), timeBaseUs);
        // Keep the line up until the window has closed its end.
        if (::write(resultPipe[1], &sent, sizeof sent) != sizeof sent)
            _exit(1);
        char stop = 0;
        if (::read(startPipe[0], &stop, 1) < 0)
            _exit(1);
        _exit(0);
    }
    ::close(master);
    ::close(startPipe[0]);
    ::close(resultPipe[1]);
    m_startPipe = startPipe[1];
    m_resultPipe = resultPipe[0];
    return true;
}

void Feeder::start()
{
    const char go = 1;
    if (::write(m_startPipe, &go, 1) != 1)
        ::kill(m_pid, SIGTERM);
}

long Feeder::finish()
{
    long sent = -1;
    if (::read(m_resultPipe, &sent, sizeof sent) != sizeof sent)
        sent = -1;
    ::close(m_startPipe);
    ::close(m_resultPipe);
    int status = 0;
    waitpid(m_pid, &status, 0);
    return sent;
}

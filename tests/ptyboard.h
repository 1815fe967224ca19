// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The board's end of a pseudo-terminal, held by a test: the window opens the
// other end by its path, as it would a serial device. Also what a test reads
// off its own process, to tell spinning and leaked descriptors apart.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTest>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

class PtyBoard
{
public:
    PtyBoard()
    {
        int slave = -1;
        char name[256] = {};
        termios raw = {};  // raw from the start: nothing echoed before the window sets its line
        cfmakeraw(&raw);
        if (openpty(&m_master, &slave, name, &raw, nullptr) == 0) {
            path = QString::fromLocal8Bit(name);
            ::close(slave);
            fcntl(m_master, F_SETFL, O_NONBLOCK);
        }
    }
    ~PtyBoard() { closeBoard(); }

    bool write(const QByteArray &bytes) { return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    // Everything the window has written, once `count` bytes are there or 5 s passed.
    QByteArray waitForBytes(int count)
    {
        (void)QTest::qWaitFor([&] {
            char buf[256];
            for (ssize_t n; (n = ::read(m_master, buf, sizeof buf)) > 0;)
                m_received.append(buf, int(n));
            return m_received.size() >= count;
        }, 5000);
        return m_received;
    }
    // True once nobody holds the window's end open any more.
    bool peerClosed() const
    {
        pollfd p = {m_master, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }
    // The board's end vanishes, as an unplugged adapter would.
    void closeBoard()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    QString path;  // empty if no pseudo-terminal could be had

private:
    int m_master = -1;
    QByteArray m_received;
};

inline double processCpuSeconds()
{
    timespec ts = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline int openFds() { return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(); }

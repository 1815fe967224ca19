#pragma once

// The board's end of a pseudo-terminal, held by a test: the window opens the
// other end by its path, as it would a serial device.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class PtyBoard
{
public:
    PtyBoard()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        m_path = QString::fromLocal8Bit(name);
        // Raw from the start, so nothing is echoed back before the window
        // sets its own line settings.
        termios raw = {};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyBoard() { closeBoard(); }
    PtyBoard(const PtyBoard &) = delete;
    PtyBoard &operator=(const PtyBoard &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString path() const { return m_path; }

    bool write(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EAGAIN) {
                pollfd p = {m_master, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Bytes the window has written so far (non-blocking).
    QByteArray readAvailable()
    {
        QByteArray out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, int(n));
        }
        m_received += out;
        return out;
    }

    // Everything received, waiting (with the event loop running) until at
    // least `count` bytes are there or the timeout passes.
    QByteArray waitForBytes(int count, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        readAvailable();
        while (m_received.size() < count && t.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            readAvailable();
        }
        return m_received;
    }
    void forgetReceived() { readAvailable(); m_received.clear(); }

    // The line settings as the window left them on the device.
    termios lineSettings() const
    {
        termios t = {};
        tcgetattr(m_master, &t);
        return t;
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

private:
    int m_master = -1;
    QString m_path;
    QByteArray m_received;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PseudoTerminal::open(QString &error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        error = systemError("cannot open a pseudo-terminal");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = systemError("cannot unlock the pseudo-terminal");
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = systemError("cannot name the pseudo-terminal");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    // O_NONBLOCK: a write must never wait for a reader that may not exist.
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("cannot make the pseudo-terminal non-blocking");
        return false;
    }

    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        error = systemError("cannot open the pseudo-terminal's slave end");
        return false;
    }

    // Raw on both sides: no echo of commands back to the board, no newline
    // translation, no signal characters; frames are binary.
    for (const int fd : {m_slave, m_master}) {
        termios tio = {};
        if (::tcgetattr(fd, &tio) != 0) {
            error = systemError("cannot read the pseudo-terminal's settings");
            return false;
        }
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
            error = systemError("cannot make the pseudo-terminal raw");
            return false;
        }
    }
    return true;
}

int PseudoTerminal::unreadBytes() const
{
    int pending = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &pending) != 0)
        return -1;
    return pending;
}

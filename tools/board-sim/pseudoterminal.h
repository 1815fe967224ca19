// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The board's line: a pseudo-terminal whose master end the simulator drives
// and whose slave end a client opens as its serial port.
//
// The slave is also held open here for the whole run. Without that, the
// master reports a hang-up (EIO, POLLHUP) whenever no client has the slave
// open, which would make a notifier on it fire without end and would turn
// reports written before the client arrives into errors; with it, such bytes
// wait in the line for the client.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens the pair: master non-blocking, both ends raw. On failure returns
    // false and sets `error`.
    [[nodiscard]] bool open(QString &error);

    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Bytes written to the master that no client has read yet, as far as the
    // line discipline shows them (at most about 4 KiB); -1 when unknown.
    int unreadBytes() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

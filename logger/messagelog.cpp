// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagelog.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

MessageLog::MessageLog() : MessageLog(STDERR_FILENO, qgetenv("JOURNAL_STREAM")) {}

MessageLog::MessageLog(int fd, const QByteArray &journalStream) : m_fd(fd), m_journal(isJournal(fd, journalStream)) {}

bool MessageLog::isJournal(int fd, const QByteArray &journalStream)
{
    // Inherited by a child whose standard error went elsewhere, the variable
    // names a stream this descriptor is not: only a match counts.
    const QList<QByteArray> parts = journalStream.split(':');
    if (parts.size() != 2)
        return false;
    bool devOk = false, inoOk = false;
    const qulonglong dev = parts[0].toULongLong(&devOk);
    const qulonglong ino = parts[1].toULongLong(&inoOk);
    struct stat st {};
    if (!devOk || !inoOk || fstat(fd, &st) != 0)
        return false;
    return qulonglong(st.st_dev) == dev && qulonglong(st.st_ino) == ino;
}

void MessageLog::write(int priority, const QString &text) const
{
    QByteArray line;
    if (m_journal)
        line = '<' + QByteArray::number(priority) + '>';
    else if (priority <= Error)
        line = "error: ";
    else if (priority == Warning)
        line = "warning: ";
    QByteArray body = text.toUtf8();
    body.replace('\n', ' ').replace('\r', ' ');
    line += body;
    line += '\n';
    // One write per line, so lines of two threads never interleave.
    const char *p = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nowhere else to say it
        p += n;
        left -= n;
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The logger's messages: one line each on standard error. When standard
// error is the journal (JOURNAL_STREAM names its device and inode), each line
// begins with its priority as <N>, which the journal takes as the level and
// strips; a terminal gets a word instead.
class MessageLog
{
public:
    enum Priority { Error = 3, Warning = 4, Info = 6 };

    // Standard error, judged by this process's JOURNAL_STREAM.
    MessageLog();
    // `fd` judged by the given JOURNAL_STREAM value ("device:inode").
    MessageLog(int fd, const QByteArray &journalStream);

    [[nodiscard]] static bool isJournal(int fd, const QByteArray &journalStream);
    bool writesToJournal() const { return m_journal; }

    // Line breaks within `text` become spaces, so a message is one line.
    void write(int priority, const QString &text) const;

private:
    int m_fd = 2;
    bool m_journal = false;
};

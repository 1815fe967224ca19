// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "throttle.h"

#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class QTextEdit;

// Writes the hex text of each read into the log. Inserting into the log's
// one ever-growing paragraph re-lays-out all of it, so reads that arrive
// close together are inserted in one call, spaced so that inserting takes a
// small share of the time. The resulting text is exactly what inserting
// every read on its own would give: the first waiting read goes in at the
// operator's cursor, the rest at the end, and waiting text is written
// before any input of the operator reaches the log.
class LogWriter : public QObject
{
    Q_OBJECT

public:
    explicit LogWriter(QTextEdit *edit, QObject *parent = nullptr);

    void append(const QString &readText);
    // Writes the waiting text now.
    void flush();
    // Empties the log, waiting text included.
    void clear();

    bool hasPending() const { return !m_pending.isEmpty(); }

    // Off: every read is inserted in its own call as it arrives. Only the
    // receive benchmark turns it off, as the reference it compares against.
    void setCoalescing(bool on) { m_coalescing = on; }

    // Called before each insertion, which can hold the event loop for tens
    // of milliseconds near a clearing.
    void setBeforeInsert(std::function<void()> hook) { m_beforeInsert = std::move(hook); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void insertPending();

    QTextEdit *m_edit = nullptr;
    QString m_pending;
    int m_firstReadLength = 0;  // length of the first waiting read's text
    Throttle m_throttle;
    qint64 m_intervalMs = 0;
    bool m_coalescing = true;
    std::function<void()> m_beforeInsert;
};

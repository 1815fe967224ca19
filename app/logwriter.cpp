// SPDX-License-Identifier: GPL-3.0-or-later
#include "logwriter.h"

#include <QEvent>
#include <QFont>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// Spacing is this many times the cost of the last insertion, so inserting
// takes about 1% of the time however long the log grows.
constexpr qint64 CostFactor = 100;
// Under a steady stream, no more than one insertion a second: a person
// follows the log no faster, and each insertion lays out the whole line
// again and redraws the log, which at the board's default rate was a third
// of the window's work.
constexpr qint64 MinIntervalMs = 1000;
// An insertion waits up to this much past its time for the next read, and
// goes in with it: one wake-up and one redraw of the window instead of two.
constexpr qint64 SlackMs = 500;
// Near the ten-second clearing at full line rate one insertion costs some
// 40 ms; the log then lags up to three seconds, the value display never.
constexpr qint64 MaxIntervalMs = 3000;
} // namespace

LogWriter::LogWriter(QTextEdit *edit, QObject *parent)
    : QObject(parent), m_edit(edit), m_throttle([this] { insertPending(); })
{
    setObjectName(QStringLiteral("logWriter"));

    // Hex text needs no shaping: without it the log's one long line is laid
    // out in about half the time. Set on the document, so the widget keeps
    // the font of the form.
    QFont font = m_edit->document()->defaultFont();
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    m_edit->document()->setDefaultFont(font);

#ifdef __GLIBC__
    // The layout of the log's line is rebuilt at each insertion in blocks of
    // up to tens of megabytes. Left to itself, malloc raises its threshold
    // for mapping a block on its own after the first such block is freed,
    // and then carves the next ones out of the heap, where they fragment it:
    // the resident size rose by 20-29 MiB before each clearing. Mapped on
    // their own, their memory goes back to the system as soon as they are
    // freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    m_edit->installEventFilter(this);
    m_edit->viewport()->installEventFilter(this);
}

void LogWriter::append(const QString &readText)
{
    if (readText.isEmpty())
        return;
    if (m_pending.isEmpty())
        m_firstReadLength = readText.size();
    m_pending += readText;

    if (m_coalescing)
        m_throttle.request(m_intervalMs, SlackMs);
    else
        flush();
}

void LogWriter::flush()
{
    if (m_pending.isEmpty())
        m_throttle.cancel();
    else
        m_throttle.runNow();
}

void LogWriter::insertPending()
{
    if (m_pending.isEmpty())
        return;
    if (m_beforeInsert)
        m_beforeInsert();

    QElapsedTimer cost;
    cost.start();
    const QTextCursor cursor = m_edit->textCursor();
    if (cursor.hasSelection() || !cursor.atEnd()) {
        // The operator has put the cursor elsewhere: only the first read
        // lands there, the cursor then jumps to the end for the others.
        m_edit->insertPlainText(m_pending.left(m_firstReadLength));
        m_edit->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
        m_pending.remove(0, m_firstReadLength);
    }
    if (!m_pending.isEmpty()) {
        m_edit->insertPlainText(m_pending);
        m_edit->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    }
    m_pending.clear();
    m_pending.squeeze();
    m_firstReadLength = 0;

    m_intervalMs = std::clamp(cost.elapsed() * CostFactor, MinIntervalMs, MaxIntervalMs);
}

void LogWriter::clear()
{
    m_throttle.cancel();
    m_pending.clear();
    m_firstReadLength = 0;
    m_edit->clear();
    m_intervalMs = 0;
#ifdef __GLIBC__
    // The log's text and layout were the largest blocks on the heap; hand
    // their pages back, or every clearing cycle can leave the heap larger.
    malloc_trim(0);
#endif
}

bool LogWriter::eventFilter(QObject *watched, QEvent *event)
{
    // Anything the operator does in the log comes after the reads that
    // arrived before it, as it would if every read were inserted at once.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Drop:
    case QEvent::ContextMenu:
        flush();
        break;
    case QEvent::MouseMove:
        // A drag that makes a selection; plain hovering changes nothing.
        if (static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton)
            flush();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_logwriter.cpp"

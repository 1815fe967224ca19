#include "logwriter.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// Spacing is this many times the cost of the last insertion, so inserting
// takes about 2.5% of the time however long the log grows.
constexpr qint64 CostFactor = 40;
// Under a steady stream, no more than about twenty insertions a second.
constexpr qint64 MinIntervalMs = 50;
// Near the ten-second clearing at full line rate one insertion costs some
// 70 ms; the log then lags up to three seconds, the value display never.
constexpr qint64 MaxIntervalMs = 3000;
} // namespace

LogWriter::LogWriter(QTextEdit *edit, QObject *parent)
    : QObject(parent), m_edit(edit), m_throttle([this] { insertPending(); })
{
    setObjectName(QStringLiteral("logWriter"));
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
        m_throttle.request(m_intervalMs);
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

// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvrecorder.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <limits>

using namespace orvale;

const char CsvRecorder::Header[] = "utc_time,seconds,value_v,device_id,channel,sample_rate,filter\n";

Arrival Arrival::now()
{
    const auto steady = std::chrono::steady_clock::now().time_since_epoch();
    return Arrival{QDateTime::currentMSecsSinceEpoch(),
                   std::chrono::duration_cast<std::chrono::milliseconds>(steady).count()};
}

namespace {

// Texts from the code tables hold no separator today; a quoted field keeps
// the file readable should one ever do.
void appendField(QByteArray &row, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n')) {
        row += '"';
        row += QByteArray(bytes).replace("\"", "\"\"");
        row += '"';
    } else {
        row += bytes;
    }
}

// A write that did not go in whole: the system's reason, or, when it gave
// none (a short count), how much went in.
CsvRecorder::Failure writeFailure(const QFile &file, qint64 taken, qint64 given)
{
    CsvRecorder::Failure failure;
    if (file.error() != QFileDevice::NoError) {
        failure.error = CsvRecorder::Error::CannotWrite;
        failure.systemReason = file.errorString();
    } else {
        failure.error = CsvRecorder::Error::WriteCutShort;
        failure.bytesTaken = std::max<qint64>(0, taken);
        failure.bytesGiven = given;
    }
    return failure;
}

} // namespace

CsvRecorder::CsvRecorder(QObject *parent) : QObject(parent)
{
    m_flushTimer.setInterval(1000);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] {
        if (flush())
            emit flushed(m_rows);
    });
}

CsvRecorder::~CsvRecorder()
{
    stop();
}

bool CsvRecorder::start(const QString &path)
{
    stop();
    m_file.setFileName(path);
    m_rows = 0;
    m_pending.clear();
    m_failure = Failure();
    // Unbuffered: a full disk shows at the write that meets it, not at some
    // later buffer flush.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_failure.error = Error::CannotOpen;
        m_failure.systemReason = m_file.errorString();
        return false;
    }
    m_startSteadyMs = Arrival::now().steadyMs;
    m_lastMs = 0;
    const qint64 headerSize = qint64(sizeof Header - 1);
    const qint64 headerTaken = m_file.write(Header, headerSize);
    if (headerTaken != headerSize) {
        m_failure = writeFailure(m_file, headerTaken, headerSize);
        m_file.close();
        return false;
    }
    m_written = headerSize;
    m_flushTimer.start();
    return true;
}

void CsvRecorder::stop()
{
    if (!m_file.isOpen())
        return;
    flush();
    m_flushTimer.stop();
    m_file.close();
}

bool CsvRecorder::flush()
{
    if (!m_file.isOpen())
        return false;
    if (m_pending.isEmpty())
        return true;
    const qint64 size = m_pending.size();
    qint64 reached = std::max<qint64>(0, m_file.write(m_pending));
    // A write the disk cut short comes back as a short count without an
    // error: the rest is written once more, which either goes in after all
    // or meets the system's reason (a full disk, a size limit) at its first
    // byte, where it is reported.
    while (reached < size) {
        const qint64 more = m_file.write(m_pending.constData() + reached, size - reached);
        if (more <= 0)
            break;
        reached += more;
    }
    if (reached != size) {
        m_failure = writeFailure(m_file, reached, size);
        // Every whole row that reached the file stays; the cut one goes,
        // which also frees its space.
        // (lastIndexOf from -1 would search the whole of it.)
        const qint64 whole = reached > 0 ? m_pending.lastIndexOf('\n', int(reached) - 1) + 1 : 0;
        m_file.resize(m_written + whole);
        m_written += whole;
        m_rows -= m_pending.mid(int(whole)).count('\n');
        m_pending.clear();
        m_flushTimer.stop();
        m_file.close();
        emit failed();
        return false;
    }
    m_written += size;
    m_pending.clear();
    return true;
}

void CsvRecorder::append(const Arrival &at, const COMM_UART_OBJ &report)
{
    if (!m_file.isOpen())
        return;
    const qint64 ms = std::max(m_lastMs, at.steadyMs - m_startSteadyMs);
    m_lastMs = ms;
    appendRow(m_pending, at.utcMs, ms, report);
    ++m_rows;
}

void CsvRecorder::appendRow(QByteArray &row, qint64 utcMs, qint64 ms, const COMM_UART_OBJ &report)
{
    const ReportTexts texts = reportTexts(report);
    // The calendar's formatting was the largest share of a row's cost; the
    // rows of one second share its text, so it is made once a second and
    // the milliseconds are written here (the same bytes as the full format).
    thread_local qint64 textSecond = std::numeric_limits<qint64>::min();
    thread_local QByteArray secondText;
    const qint64 second = utcMs >= 0 ? utcMs / 1000 : -((-utcMs + 999) / 1000);
    if (second != textSecond) {
        secondText = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::UTC)
                         .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
                         .toLatin1();
        textSecond = second;
    }
    const int milli = int(utcMs - second * 1000);
    row += secondText;
    const char fraction[6] = {'.', char('0' + milli / 100), char('0' + milli / 10 % 10), char('0' + milli % 10), 'Z', 0};
    row += fraction;
    row += ',';
    row += QByteArray::number(ms / 1000);
    row += '.';
    row += QByteArray::number(ms % 1000).rightJustified(3, '0');
    row += ',';
    appendField(row, texts.value);
    row += ',';
    appendField(row, texts.deviceId);
    row += ',';
    appendField(row, texts.channel);
    row += ',';
    appendField(row, texts.sampleRate);
    row += ',';
    appendField(row, texts.filter);
    row += '\n';
}

// Compiled with this file, so the build reads its headers once.
#include "moc_csvrecorder.cpp"

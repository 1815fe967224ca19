// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotatingrecorder.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of [data, data + size) or as much as the system takes; the
// count that reached the file, and the reason in `error` when short.
qint64 writeAll(int fd, const char *data, qint64 size, int &error)
{
    qint64 done = 0;
    error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    return done;
}

} // namespace

RotatingRecorder::RotatingRecorder(const RecordingFolder &folder, const Rotation &rotation, QObject *parent)
    : QObject(parent), m_folder(folder), m_rotation(rotation), m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_flushTimer.setInterval(1000);
    connect(&m_flushTimer, &QTimer::timeout, this, &RotatingRecorder::tick);
    m_flushTimer.start();
    m_retry.setInterval(10000);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { m_blocked = false; });
}

RotatingRecorder::~RotatingRecorder()
{
    stop();
}

void RotatingRecorder::tick()
{
    flush();
    // A quiet line must not keep yesterday's file open: once the clock has
    // passed the boundary, the file is closed and compressed without waiting
    // for the next report.
    if (m_fd >= 0 && m_rotation.kind() != Rotation::Kind::Size && m_rotation.period(m_clock()) > m_period)
        closeFile();
}

void RotatingRecorder::append(const Arrival &at, const COMM_UART_OBJ &report)
{
    if (m_blocked) {
        ++m_lost;
        ++m_lostTotal;
        return;
    }
    // Seconds since the logger began recording, on the monotonic clock, so
    // they go on across files and never run backwards.
    if (m_startSteadyMs < 0)
        m_startSteadyMs = at.steadyMs;
    const qint64 ms = std::max(m_lastMs, at.steadyMs - m_startSteadyMs);
    m_lastMs = ms;
    const int before = m_pending.size();
    CsvRecorder::appendRow(m_pending, at.utcMs, ms, report);
    const qint64 rowBytes = m_pending.size() - before;

    // A row of a later hour or day, or one that would take the file past
    // its size, begins the next file; the rows before it end the old one.
    // (A clock set back keeps the file: files never go back in time.)
    const bool later = m_fd >= 0 && m_rotation.period(at.utcMs) > m_period;
    const bool full = m_fd >= 0 && m_rotation.kind() == Rotation::Kind::Size && m_fileRows > 0
                      && m_fileBytes + rowBytes > m_rotation.maxBytes();
    if (m_fd < 0 || later || full) {
        const QByteArray row = m_pending.mid(before);
        m_pending.truncate(before);
        if (m_fd >= 0)
            closeFile();
        if (!openFile(at.utcMs)) {
            ++m_lost;
            ++m_lostTotal;
            return;
        }
        m_pending = row;
    }
    ++m_pendingRows;
    ++m_fileRows;
    m_fileBytes += rowBytes;
}

bool RotatingRecorder::openFile(qint64 utcMs)
{
    const QString path = m_folder.newFilePath(utcMs);
    emit fileOpening(path);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        blocked(tr("cannot create %1: %2").arg(path, systemReason(errno)), 0);
        return false;
    }
    int error = 0;
    const qint64 headerSize = qint64(std::strlen(CsvRecorder::Header));
    if (writeAll(fd, CsvRecorder::Header, headerSize, error) != headerSize) {
        // A file without its whole header would be no recording.
        ::close(fd);
        ::unlink(native.constData());
        blocked(tr("cannot write %1: %2").arg(path, systemReason(error)), 0);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_period = m_rotation.period(utcMs);
    m_written = m_fileBytes = headerSize;
    m_fileRows = 0;
    emit message(6, tr("recording to %1").arg(path));
    return true;
}

void RotatingRecorder::closeFile()
{
    if (m_fd < 0)
        return;
    flush();
    ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
    m_pendingRows = 0;
    emit fileClosed(m_path);
}

bool RotatingRecorder::flush()
{
    if (m_fd < 0 || m_pending.isEmpty())
        return m_fd >= 0 || m_pending.isEmpty();
    int error = 0;
    const qint64 size = m_pending.size();
    const qint64 reached = writeAll(m_fd, m_pending.constData(), size, error);
    if (reached == size && fdatasync(m_fd) != 0 && errno != EINVAL)
        error = errno;
    if (reached == size && error == 0) {
        m_written += size;
        m_rowsWritten += m_pendingRows;
        m_pending.clear();
        m_pendingRows = 0;
        if (m_failing) {
            emit message(4, tr("writing to %1 again; reports lost while it could not be written: %2").arg(m_path).arg(m_lost));
            m_failing = false;
            m_lost = 0;
        }
        return true;
    }
    // Every whole row that reached the file stays; a row the disk cut goes,
    // which also frees its space. (A failed sync leaves the rows written.)
    const qint64 whole = reached == size ? size : (reached > 0 ? m_pending.lastIndexOf('\n', int(reached) - 1) + 1 : 0);
    if (whole < reached && ftruncate(m_fd, m_written + whole) != 0)
        emit message(3, tr("cannot cut the partial row off %1: %2").arg(m_path, systemReason(errno)));
    // The next write goes on from the last whole row, not past the cut one.
    ::lseek(m_fd, m_written + whole, SEEK_SET);
    const qint64 wholeRows = m_pending.left(int(whole)).count('\n');
    m_written += whole;
    m_rowsWritten += wholeRows;
    m_fileBytes = m_written;
    m_fileRows -= m_pendingRows - wholeRows;
    const qint64 lost = m_pendingRows - wholeRows;
    m_pending.clear();
    m_pendingRows = 0;
    blocked(tr("cannot write %1: %2").arg(m_path, systemReason(error)), lost);
    return false;
}

void RotatingRecorder::blocked(const QString &reason, qint64 lost)
{
    // The reason once per spell of failures; the count when it ends.
    if (!m_failing)
        emit message(3, tr("%1; trying again every %2 s").arg(reason).arg(m_retry.interval() / 1000.0));
    m_failing = true;
    m_lost += lost;
    m_lostTotal += lost;
    m_blocked = true;
    m_retry.start();
}

void RotatingRecorder::rotateNow()
{
    closeFile();
}

void RotatingRecorder::stop()
{
    closeFile();
    if (m_failing) {
        emit message(4, tr("reports lost while the recording could not be written: %1").arg(m_lost));
        m_failing = false;
        m_lost = 0;
    }
}

#include "moc_rotatingrecorder.cpp"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardsim.h"
#include "pseudoterminal.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

// The evenly spread noise that came before the battery's: 3.7 V ± 0.005 V.
constexpr uint32_t NominalValue = 370000000;
constexpr int NoiseCounts = 500000;

// Unread bytes on the line beyond which nobody is taken to be reading:
// 128 frames, a second of the fastest code's reports.
constexpr int UnreadLimit = 2048;
constexpr qint64 QueueLimit = 1024;
// Reports made per write-readiness event in burst mode.
constexpr int BurstBatch = 8;
// Bytes of a command that do not complete a frame within this time are dropped.
constexpr int CommandQuietMs = 100;
constexpr int DrainPollMs = 5;
// At a stop, give up waiting for a client that reads nothing for this long.
constexpr qint64 DrainPatienceNs = 2'000'000'000;
// The filler needed is one byte in about 4000 cases; this bound is never reached.
constexpr int MaxFillerBytes = 64;

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex(' ');
}

// One line on standard error in one write, so lines never interleave.
void logLine(const QByteArray &line)
{
    const QByteArray text = line + '\n';
    const char *data = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

} // namespace

BoardSim::BoardSim(const SimOptions &options, PseudoTerminal &line, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_line(line)
    , m_random(seed)
    , m_signal(options.levels, seed)
    , m_id(options.id)
    , m_settings(options.settings)
{
    m_tickTimer = new QTimer(this);
    m_tickTimer->setSingleShot(true);
    m_tickTimer->setTimerType(Qt::PreciseTimer);
    connect(m_tickTimer, &QTimer::timeout, this, &BoardSim::sendDueReports);

    m_pauseTimer = new QTimer(this);
    m_pauseTimer->setSingleShot(true);
    m_pauseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pauseTimer, &QTimer::timeout, this, &BoardSim::onPauseOver);

    m_durationTimer = new QTimer(this);
    m_durationTimer->setSingleShot(true);
    m_durationTimer->setTimerType(Qt::PreciseTimer);
    connect(m_durationTimer, &QTimer::timeout, this, &BoardSim::stopReporting);

    m_quietTimer = new QTimer(this);
    m_quietTimer->setSingleShot(true);
    connect(m_quietTimer, &QTimer::timeout, this, &BoardSim::dropQuietCommandBytes);

    m_drainTimer = new QTimer(this);
    m_drainTimer->setInterval(DrainPollMs);
    connect(m_drainTimer, &QTimer::timeout, this, &BoardSim::checkDrained);

    m_readNotifier = new QSocketNotifier(m_line.masterFd(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &BoardSim::readCommands);

    m_writeNotifier = new QSocketNotifier(m_line.masterFd(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &BoardSim::onWritable);
}

void BoardSim::start()
{
    if (m_clock.isValid() || m_finished)
        return;  // a run is started once
    m_reporting = true;
    m_clock.start();
    if (m_options.durationSeconds)
        m_durationTimer->start(static_cast<int>(std::ceil(*m_options.durationSeconds * 1000.0)));

    if (m_options.burst) {
        updateWriteNotifier();
        return;
    }
    const double rate = m_options.rate ? *m_options.rate : BoardSignal::sampleRateOfCode(m_settings[orvale::SettingsSampleRate]).value_or(10.0);
    m_schedule.start(rate, nowNs());
    sendDueReports();
}

void BoardSim::stopNow()
{
    finish(0);
}

void BoardSim::sendDueReports()
{
    if (!m_reporting)
        return;
    const qint64 due = m_schedule.takeDue(nowNs());
    for (qint64 i = 0; i < due && m_reporting; ++i) {
        if (lineBackedUp())
            ++m_dropped;
        else
            queueReport();
    }
    writeQueue();
    if (m_reporting)
        scheduleNextTick();
}

void BoardSim::scheduleNextTick()
{
    // Whole milliseconds, rounded up: waking early would only find nothing due.
    const qint64 waitNs = m_schedule.nsUntilNext(nowNs());
    const qint64 waitMs = std::min<qint64>((waitNs + 999'999) / 1'000'000, 60'000);
    m_tickTimer->start(static_cast<int>(waitMs));
}

bool BoardSim::lineBackedUp() const
{
    return m_queuedBytes >= QueueLimit || m_line.unreadBytes() >= UnreadLimit;
}

COMM_UART_OBJ BoardSim::makeReport()
{
    COMM_UART_OBJ report = {};
    report.dev_id = m_id;
    std::copy(m_options.echo.cbegin(), m_options.echo.cbegin() + 3, report.echo_head);
    std::memcpy(&report.sa_code, m_settings.data(), m_settings.size());
    if (m_options.fixedValue)
        report.value = *m_options.fixedValue;
    else if (m_options.uniformNoise)
        report.value = static_cast<uint32_t>(static_cast<int64_t>(NominalValue) + m_random.bounded(-NoiseCounts, NoiseCounts + 1));
    else
        report.value = m_signal.next(m_settings[orvale::SettingsSampleRate], m_settings[orvale::SettingsFilter]);
    report.echo_tail = static_cast<uint16_t>(m_options.echo[3] | (m_options.echo[4] << 8));
    orvale::sealFrame(report);
    return report;
}

void BoardSim::queueReport()
{
    ++m_made;
    QByteArray frame = orvale::frameBytes(makeReport());
    const bool corrupt = m_options.corruptEvery > 0 && m_made % m_options.corruptEvery == 0;
    if (corrupt) {
        // A single flipped bit always breaks a CRC-16, wherever it is.
        const int bit = static_cast<int>(m_random.bounded(orvale::FrameSize * 8));
        frame[bit / 8] = static_cast<char>(frame[bit / 8] ^ (1 << (bit % 8)));
    }

    QByteArray junk;
    if (m_options.junkBytes > 0 && (m_made - 1) % 3 == 0) {
        junk.resize(m_options.junkBytes);
        for (char &byte : junk)
            byte = static_cast<char>(m_random.bounded(256));
    }

    // Junk, or what is left of a corrupted frame, can by chance combine with
    // the bytes that follow into a window whose checksum holds; a reader would
    // then take that window and lose the real frame. Filler bytes move the
    // frame until a reader that has seen everything so far finds exactly it.
    // The junk is drawn afresh each time too: a window made of the last
    // frame's rest and the junk alone would stay wherever the frame went.
    for (int filler = 0;; ++filler) {
        orvale::FrameReader probe = m_shadow;
        const auto found = probe.feed(junk + frame);
        const bool exact = corrupt ? found.empty() : found.size() == 1 && orvale::frameBytes(found.front()) == frame;
        if (exact || filler == MaxFillerBytes) {
            m_shadow = probe;
            break;
        }
        junk.resize(junk.size() + 1);
        for (char &byte : junk)
            byte = static_cast<char>(m_random.bounded(256));
    }

    if (!junk.isEmpty())
        queuePiece(Piece{junk, PieceKind::Junk, 0, {}});
    const PieceKind kind = corrupt ? PieceKind::CorruptReport : PieceKind::Report;
    if (m_options.split) {
        const int cut = static_cast<int>(m_random.bounded(1, orvale::FrameSize));
        queuePiece(Piece{frame.left(cut), PieceKind::Part, 0, {}});
        queuePiece(Piece{frame.mid(cut), kind, static_cast<int>(m_random.bounded(2, 6)), frame});
    } else {
        queuePiece(Piece{frame, kind, 0, frame});
    }

    if (m_options.count > 0 && m_made >= m_options.count)
        stopReporting();
}

void BoardSim::queuePiece(Piece piece)
{
    m_queuedBytes += piece.bytes.size();
    m_queue.push_back(std::move(piece));
}

void BoardSim::onWritable()
{
    if (m_options.burst && m_reporting && m_queue.empty()) {
        for (int i = 0; i < BurstBatch && m_reporting; ++i)
            queueReport();
    }
    writeQueue();
}

void BoardSim::onPauseOver()
{
    m_paused = false;
    writeQueue();
}

void BoardSim::writeQueue()
{
    const int fd = m_line.masterFd();
    while (!m_queue.empty() && !m_paused && !m_finished) {
        Piece &piece = m_queue.front();
        if (m_frontWritten == 0 && piece.pauseBeforeMs > 0) {
            m_paused = true;
            m_pauseTimer->start(piece.pauseBeforeMs);
            piece.pauseBeforeMs = 0;
            break;
        }
        const ssize_t n = ::write(fd, piece.bytes.constData() + m_frontWritten,
                                  static_cast<size_t>(piece.bytes.size() - m_frontWritten));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            fail(QStringLiteral("cannot write to the line: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        m_frontWritten += static_cast<int>(n);
        m_queuedBytes -= n;
        if (m_frontWritten < piece.bytes.size())
            continue;  // the next write shows whether the line is full
        const Piece done = std::move(piece);
        m_queue.pop_front();
        m_frontWritten = 0;
        pieceWritten(done);
    }
    updateWriteNotifier();
}

void BoardSim::updateWriteNotifier()
{
    if (m_finished)
        return;
    // Only while something is waiting for the line: a writable pty is
    // writable almost always, and an idle notifier would spin.
    const bool waiting = !m_paused && (!m_queue.empty() || (m_options.burst && m_reporting));
    m_writeNotifier->setEnabled(waiting);
}

void BoardSim::pieceWritten(const Piece &piece)
{
    switch (piece.kind) {
    case PieceKind::Part:
        return;
    case PieceKind::Junk:
        if (m_options.logReports)
            logLine("junk " + hex(piece.bytes));
        return;
    case PieceKind::Report:
        ++m_sent;
        ++m_valid;
        if (m_options.logReports)
            logLine("report " + hex(piece.fullFrame));
        return;
    case PieceKind::CorruptReport:
        ++m_sent;
        if (m_options.logReports)
            logLine("report " + hex(piece.fullFrame) + " corrupted");
        return;
    }
}

void BoardSim::readCommands()
{
    char buffer[4096];
    // Bounded, so that a client writing without pause cannot hold the loop.
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = ::read(m_line.masterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            // The slave is held open here, so this is not a client hanging up;
            // stop listening rather than spin on an error that will repeat.
            m_readNotifier->setEnabled(false);
            logLine(QByteArray("error: cannot read from the line: ")
                    + (n < 0 ? std::strerror(errno) : "end of file") + "; commands are no longer read");
            break;
        }
        for (const CommandScanner::Event &event : m_commands.feed(QByteArray(buffer, static_cast<int>(n)))) {
            if (event.kind == CommandScanner::Event::Command)
                applyCommand(event.bytes);
            else
                logLine("ignored " + hex(event.bytes));
        }
    }
    if (m_commands.pendingSize() > 0)
        m_quietTimer->start(CommandQuietMs);
    else
        m_quietTimer->stop();
}

void BoardSim::dropQuietCommandBytes()
{
    const QByteArray dropped = m_commands.flush();
    if (!dropped.isEmpty())
        logLine("ignored " + hex(dropped));
}

void BoardSim::applyCommand(const QByteArray &bytes)
{
    const COMM_UART_OBJ command = orvale::frameFromBytes(bytes.constData());
    m_id = command.dev_id;
    m_settings = orvale::settingsOf(command);
    logLine("command " + hex(bytes) + " applied: id " + orvale::deviceIdText(m_id).toLatin1()
            + " sa " + QByteArray::number(m_settings[orvale::SettingsSampleRate])
            + " fil " + QByteArray::number(m_settings[orvale::SettingsFilter])
            + " ch " + QByteArray::number(m_settings[orvale::SettingsChannel]));

    if (m_options.rate || m_options.burst || !m_reporting)
        return;
    const auto rate = BoardSignal::sampleRateOfCode(m_settings[orvale::SettingsSampleRate]);
    if (rate && *rate != m_schedule.rate()) {
        m_schedule.changeRate(*rate, nowNs());
        scheduleNextTick();
    }
}

void BoardSim::stopReporting()
{
    if (!m_reporting)
        return;
    m_reporting = false;
    m_tickTimer->stop();
    m_durationTimer->stop();
    updateWriteNotifier();
    m_drainProgressNs = nowNs();
    m_drainTimer->start();
}

void BoardSim::checkDrained()
{
    // Closing the master throws away whatever the client has not read yet,
    // so the run ends only once the line is empty: nothing queued here and
    // nothing unread in the line, seen twice in a row to cover bytes still
    // on their way into the line's buffer.
    const int unread = std::max(0, m_line.unreadBytes());
    if (m_queue.empty() && unread == 0) {
        if (++m_drainQuietChecks >= 2)
            finish(0);
        return;
    }
    m_drainQuietChecks = 0;
    if (m_queuedBytes != m_drainQueued || unread != m_drainUnread) {
        m_drainQueued = m_queuedBytes;
        m_drainUnread = unread;
        m_drainProgressNs = nowNs();
        return;
    }
    if (nowNs() - m_drainProgressNs > DrainPatienceNs) {
        logLine("nobody read the last " + QByteArray::number(m_queuedBytes + unread)
                + " bytes; they are lost at exit");
        finish(0);
    }
}

void BoardSim::fail(const QString &message)
{
    logLine("error: " + message.toLocal8Bit());
    finish(1);
}

void BoardSim::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    m_reporting = false;
    for (QTimer *timer : {m_tickTimer, m_pauseTimer, m_durationTimer, m_quietTimer, m_drainTimer})
        timer->stop();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    dropQuietCommandBytes();
    if (m_dropped > 0)
        logLine("dropped " + QByteArray::number(m_dropped) + " reports: nobody is reading the line");
    logLine("sent " + QByteArray::number(m_sent) + " reports (" + QByteArray::number(m_valid) + " valid)");
    emit finished(exitCode);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_boardsim.cpp"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "loggerservice.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#include <csignal>

namespace {

QString lineText(const orvale::LineSettings &line)
{
    return QStringLiteral("%1 baud, %2 data bits, %3, 1 stop bit")
        .arg(line.baud)
        .arg(orvale::LineSettings::dataBitsText(line.dataBits),
             line.parity == QSerialPort::NoParity ? QStringLiteral("no parity") : QStringLiteral("even parity"));
}

QString rotationText(const Rotation &rotation)
{
    switch (rotation.kind()) {
    case Rotation::Kind::Hourly: return QStringLiteral("hourly");
    case Rotation::Kind::Daily: return QStringLiteral("daily");
    case Rotation::Kind::Size: break;
    }
    return QStringLiteral("at %1 bytes").arg(rotation.maxBytes());
}

// The files' name when none is given: the port's base name (ttyUSB0).
QString defaultName(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

LoggerService::LoggerService(const orvale::LineOptions &line, const orvale::LoggerOptions &options, const MessageLog &log,
                             QObject *parent)
    : QObject(parent),
      m_portPath(orvale::portPath(line.port)),
      m_line(line.over(orvale::LineSettings())),
      m_options(options),
      m_log(log),
      m_recorder(RecordingFolder(options.recordDir, options.name.isEmpty() ? defaultName(m_portPath) : options.name),
                 options.rotation),
      m_housekeeper(RecordingFolder(options.recordDir, options.name.isEmpty() ? defaultName(m_portPath) : options.name))
{
    m_housekeeper.setCompress(options.compress);
    m_housekeeper.setMaxDiskBytes(options.maxDiskBytes);
    connect(&m_recorder, &RotatingRecorder::fileOpening, &m_housekeeper, &Housekeeper::setCurrentFile);
    connect(&m_recorder, &RotatingRecorder::fileClosed, &m_housekeeper, [this] { m_housekeeper.sweep(); });
    const auto write = [this](int priority, const QString &text) { m_log.write(priority, text); };
    connect(&m_recorder, &RotatingRecorder::message, this, write);
    // From the housekeeper's thread; queued here, so lines come from one thread.
    connect(&m_housekeeper, &Housekeeper::message, this, write);
    connect(&m_reconnect, &orvale::ReconnectWatcher::openDue, this, [this] { openPort(true); });

    // The recorder is the first sink: a report is in its file before any
    // other sink can hold it up.
    addSink([this](const Arrival &at, const COMM_UART_OBJ &report) { m_recorder.append(at, report); });

    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, &LoggerService::sendStatus);
    // A file closed while a sweep ran, or a limit passed by the current file
    // alone, is dealt with by the next pass.
    m_sweepTimer.setInterval(60 * 1000);
    connect(&m_sweepTimer, &QTimer::timeout, &m_housekeeper, &Housekeeper::sweep);
}

LoggerService::~LoggerService()
{
    stop();
}

bool LoggerService::start()
{
    if (!QDir().mkpath(m_options.recordDir) || !QFileInfo(m_options.recordDir).isWritable()) {
        m_log.write(MessageLog::Error,
                    tr("cannot record into %1: %2")
                        .arg(m_options.recordDir, QFileInfo(m_options.recordDir).isDir()
                                                      ? tr("the folder is not writable")
                                                      : tr("the folder cannot be made")));
        return false;
    }
    m_log.write(MessageLog::Info,
                tr("recording %1 (%2) into %3: a new file %4, closed files %5, %6")
                    .arg(m_portPath, lineText(m_line), QDir(m_options.recordDir).absolutePath(),
                         rotationText(m_options.rotation),
                         m_options.compress ? tr("compressed") : tr("kept plain"),
                         m_options.maxDiskBytes > 0 ? tr("at most %1 bytes on disk").arg(m_options.maxDiskBytes)
                                                    : tr("no disk limit")));
    m_started = true;
    // Leftovers of an earlier run: compressions cut short, files closed
    // but never compressed, the limit.
    m_housekeeper.sweep();
    m_sweepTimer.start();
    // An absent node is never opened: the wait opens it once it is there.
    if (QFileInfo::exists(m_portPath))
        openPort(false);
    else
        waitForPort(false);
    m_ready = true;
    m_notifier.ready(statusText());
    m_statusTimer.start();
    return true;
}

void LoggerService::openPort(bool fromWait)
{
    if (m_port || m_stopped) {
        m_reconnect.stop();
        return;
    }
    m_port = new QSerialPort(this);
    if (!orvale::openLine(*m_port, m_portPath, m_line)) {
        const QString reason = m_port->errorString();
        releasePort();
        m_log.write(MessageLog::Warning, tr("cannot open %1: %2; waiting for it to go and come back")
                                             .arg(m_portPath, reason));
        // Tried just now: a node that is there but refuses is not hammered.
        waitForPort(true);
        return;
    }
    m_reconnect.stop();
    // A new connection: nothing kept from the last one can complete a frame.
    m_reader.reset();
    connect(m_port, &QSerialPort::readyRead, this, &LoggerService::readPort);
    connect(m_port, &QSerialPort::errorOccurred, this, &LoggerService::portError);
    if (fromWait && m_lostAt.isValid())
        m_log.write(MessageLog::Info, tr("reopened %1 after %2 s").arg(m_portPath).arg(m_lostAt.elapsed() / 1000.0, 0, 'f', 1));
    else
        m_log.write(MessageLog::Info, tr("opened %1 (%2)").arg(m_portPath, lineText(m_line)));
    sendStatus();
}

void LoggerService::readPort()
{
    if (!m_port)
        return;
    // Exactly what the port holds, as the window reads it.
    const QByteArray read = m_port->read(m_port->bytesAvailable());
    if (read.isEmpty())
        return;
    const std::vector<COMM_UART_OBJ> frames = m_reader.feed(read);
    if (frames.empty())
        return;
    const Arrival at = Arrival::now();
    for (const COMM_UART_OBJ &frame : frames) {
        for (const Sink &sink : m_sinks)
            sink(at, frame);
    }
}

void LoggerService::portError()
{
    // A vanished device reports an error on every turn of the event loop;
    // leaving the port open would spin a core forever.
    if (!m_port || m_port->error() == QSerialPort::NoError)
        return;
    const QString reason = m_port->errorString();
    releasePort();
    // What came before the loss is on disk before the wait begins.
    (void)m_recorder.flush();
    m_lostAt.start();
    m_log.write(MessageLog::Warning, tr("lost %1: %2; waiting for it to come back").arg(m_portPath, reason));
    waitForPort(false);
}

void LoggerService::releasePort()
{
    if (!m_port)
        return;
    // Detached first, so an error raised while closing a port whose device
    // has gone cannot re-enter; deleted once control is back in the event
    // loop, since this may run inside one of its own signals.
    disconnect(m_port, nullptr, this, nullptr);
    m_port->close();
    m_port->deleteLater();
    m_port = nullptr;
}

void LoggerService::waitForPort(bool triedNow)
{
    if (m_stopped)
        return;
    if (!triedNow && !m_lostAt.isValid())
        m_log.write(MessageLog::Info, tr("waiting for %1 to appear").arg(m_portPath));
    m_reconnect.waitFor(m_portPath, triedNow);
    sendStatus();
}

void LoggerService::handleSignal(int signalNumber)
{
    if (signalNumber == SIGHUP) {
        m_log.write(MessageLog::Info, tr("SIGHUP: closing %1, the next report begins a new file")
                                          .arg(m_recorder.currentFile().isEmpty() ? tr("no file")
                                                                                  : m_recorder.currentFile()));
        m_recorder.rotateNow();
        return;
    }
    stop();
    emit finished();
}

void LoggerService::stop()
{
    if (m_stopped || !m_started)
        return;
    m_stopped = true;
    m_notifier.stopping();
    m_statusTimer.stop();
    m_sweepTimer.stop();
    m_reconnect.stop();
    // What the line has delivered is recorded, not left in the port's buffer.
    readPort();
    releasePort();
    m_recorder.stop();
    m_log.write(MessageLog::Info, tr("stopped: %1 rows written").arg(m_recorder.rowsWritten()));
}

QString LoggerService::name() const
{
    return m_options.name.isEmpty() ? defaultName(m_portPath) : m_options.name;
}

QString LoggerService::statusText() const
{
    QString port = m_port ? tr("%1 open").arg(m_portPath) : tr("waiting for %1").arg(m_portPath);
    if (m_recorder.isBlocked())
        port += tr("; cannot write, %1 reports lost").arg(m_recorder.reportsLost());
    return tr("%1 rows written; %2").arg(m_recorder.rowsWritten()).arg(port);
}

void LoggerService::sendStatus()
{
    if (m_ready && !m_stopped)
        m_notifier.status(statusText());
}

// Compiled with this file, so the build reads its headers once.
#include "moc_loggerservice.cpp"

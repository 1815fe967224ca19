// SPDX-License-Identifier: GPL-3.0-or-later
// A lab through one broker: N orvale-logger processes, each on a board of
// its own (a pseudo-terminal this program writes reports into at RATE a
// second, each report its own write, the boards' phases spread), all
// publishing to one mosquitto on a loopback port, and one subscriber here
// counting what arrives. Prints, over the measured seconds (after a
// warm-up): the delay from a report's arrival at its logger (the line's
// timestamp) to its arrival at the subscriber, p50 and p99; the reports
// lost (recorded by a logger, never received, and gaps in seq); the CPU of
// each logger and of the broker from /proc/PID/stat; the broker's message
// rate. With --ramp it doubles N from --boards on and stops at the first N
// that loses a report or whose p99 passes 250 ms. Figures, never a verdict.
// With --lines FILE it keeps the first board's payloads as received, which
// scripts/influx-check --logger gives a real time-series server.
//   orvale-bench-lab [--boards N] [--seconds S] [--rate R] [--ramp] [--max-boards N] [--lines FILE]

#include "cputime.h"
#include "commframe.h"
#include "linereader.h"
#include "mqttclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double WarmUpSeconds = 3;
constexpr double DelayLimitMs = 250;

qint64 realtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
                    && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

struct Board
{
    int master = -1;
    QString path;
    QString name;
    QProcess logger;
    double phaseMs = 0;
    qint64 sent = 0;
    qint64 rows = -1;  // as the logger said at its stop
    double cpuAtStart = 0;
    double cpu = 0;
    LineReader reader;
    qint64 received = 0;

    ~Board()
    {
        if (logger.state() != QProcess::NotRunning) {
            logger.kill();
            logger.waitForFinished(5000);
        }
        if (master >= 0)
            ::close(master);
    }
};

struct Figures
{
    int boards = 0;
    double seconds = 0;
    qint64 rows = 0;
    qint64 received = 0;
    qint64 gaps = 0;
    qint64 duplicates = 0;
    qint64 undelivered = 0;  // still queued in the loggers when they stopped
    qint64 dropped = 0;      // dropped by the loggers' queues
    double p50 = 0, p99 = 0, max = 0;
    double loggerCpuMean = 0, loggerCpuMax = 0, brokerCpu = 0, ownCpu = 0;
    double messagesPerSecond = 0, bytesPerSecond = 0, reportsPerSecond = 0;
    QString trouble;  // why the round could not be measured

    // A report missing inside the stream is both short of the rows and a gap.
    qint64 lost() const { return std::max(rows - received, gaps); }
};

struct Options
{
    int boards = 20;
    int maxBoards = 640;
    double seconds = 25;
    double rate = 123;
    bool ramp = false;
    QString lines;
    QString logger = QStringLiteral(ORVALE_LOGGER);
};

Figures runLab(const Options &options, int n)
{
    Figures figures;
    figures.boards = n;
    QTemporaryDir dir;
    const QString mosquitto =
        QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (mosquitto.isEmpty()) {
        figures.trouble = QStringLiteral("needs mosquitto (scripts/deps.sh installs it)");
        return figures;
    }
    const quint16 port = freePort();
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return figures;
    conf.write("listener " + QByteArray::number(port) + " 127.0.0.1\nallow_anonymous true\npersistence false\n"
               "log_dest none\nmax_queued_messages 100000\n"
               + QByteArray(::getuid() == 0 ? "user root\n" : ""));
    conf.close();
    QProcess broker;
    broker.start(mosquitto, {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(5000) || !QTest::qWaitFor([port] { return accepts(port); }, 5000)) {
        figures.trouble = QStringLiteral("mosquitto did not start");
        return figures;
    }

    std::vector<std::unique_ptr<Board>> boards;
    QHash<QByteArray, Board *> byTopic;
    int online = 0;
    // Nothing counted until the warm-up is over.
    qint64 measureFromNs = std::numeric_limits<qint64>::max(), measureToNs = std::numeric_limits<qint64>::max();
    std::vector<double> delaysMs;
    qint64 messages = 0, payloadBytes = 0, measuredReports = 0;

    QFile lines(options.lines);
    if (!options.lines.isEmpty() && !lines.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        figures.trouble = QStringLiteral("cannot write %1").arg(options.lines);
        return figures;
    }
    MqttClient subscriber;
    QObject::connect(&subscriber, &MqttClient::messageReceived, [&](const QByteArray &topic, const QByteArray &payload) {
        const qint64 nowNs = realtimeNs();
        Board *board = byTopic.value(topic.left(topic.lastIndexOf('/')));
        if (!board)
            return;
        if (topic.endsWith("/status")) {
            online += payload == "online" ? 1 : 0;
            return;
        }
        if (lines.isOpen() && board == boards.front().get())
            lines.write(payload);
        bool counted = false;
        for (const auto &report : board->reader.read(payload)) {
            ++board->received;
            if (report.timeNs < measureFromNs || report.timeNs > measureToNs)
                continue;
            counted = true;
            ++measuredReports;
            delaysMs.push_back(double(nowNs - report.timeNs) / 1e6);
        }
        if (counted) {
            ++messages;
            payloadBytes += payload.size();
        }
    });
    MqttClient::Options sub;
    BrokerError error;
    sub.url = BrokerUrl::parse(QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(port), &error);
    subscriber.subscribe("lab/+/reports", 1);
    subscriber.subscribe("lab/+/status", 1);
    subscriber.start(sub);
    if (!QTest::qWaitFor([&] { return subscriber.isConnected(); }, 10000)) {
        figures.trouble = QStringLiteral("the subscriber could not connect");
        return figures;
    }

    for (int i = 0; i < n; ++i) {
        auto board = std::make_unique<Board>();
        int slave = -1;
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&board->master, &slave, name, &raw, nullptr) != 0) {
            figures.trouble = QStringLiteral("no pseudo-terminal for board %1").arg(i + 1);
            return figures;
        }
        ::close(slave);
        fcntl(board->master, F_SETFL, O_NONBLOCK);
        board->path = QString::fromLocal8Bit(name);
        board->name = QStringLiteral("b%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        board->phaseMs = 1000.0 / options.rate * i / n;
        byTopic.insert("lab/" + board->name.toLatin1(), board.get());
        board->logger.setStandardErrorFile(dir.filePath(board->name + QLatin1String(".log")));
        board->logger.start(options.logger, {QStringLiteral("--port"), board->path, QStringLiteral("--record"),
                                             dir.filePath(QStringLiteral("rec")), QStringLiteral("--name"), board->name,
                                             QStringLiteral("--publish"),
                                             QStringLiteral("mqtt://127.0.0.1:%1/lab/%2").arg(port).arg(board->name)});
        boards.push_back(std::move(board));
    }
    if (!QTest::qWaitFor([&] { return online >= n; }, 30000)) {
        figures.trouble = QStringLiteral("only %1 of %2 loggers came online").arg(online).arg(n);
        return figures;
    }

    // Each board writes its reports one by one, when due, as a board does.
    uint32_t value = 370000000;
    QElapsedTimer clock;
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const double elapsedMs = double(clock.nsecsElapsed()) / 1e6;
        for (const auto &board : boards) {
            const qint64 due = qint64(std::floor((elapsedMs - board->phaseMs) * options.rate / 1000.0)) + 1;
            for (; board->sent < due; ++board->sent) {
                COMM_UART_OBJ frame{};
                frame.dev_id = 0xA1;
                frame.value = value++ % 1000 + 370000000;
                orvale::sealFrame(frame);
                const QByteArray bytes = orvale::frameBytes(frame);
                if (::write(board->master, bytes.constData(), size_t(bytes.size())) != bytes.size())
                    break;  // the logger fell behind by a whole buffer: it shows as fewer rows
            }
        }
    });
    clock.start();
    feed.start(2);
    QTest::qWait(int(WarmUpSeconds * 1000));
    measureFromNs = realtimeNs();
    const double ownAtStart = ownCpuSeconds();
    const double brokerAtStart = processCpuSeconds(broker.processId());
    for (const auto &board : boards)
        board->cpuAtStart = processCpuSeconds(board->logger.processId());
    QElapsedTimer measured;
    measured.start();
    QTest::qWait(int(options.seconds * 1000));
    figures.seconds = double(measured.elapsed()) / 1000.0;
    measureToNs = realtimeNs();
    feed.stop();
    figures.ownCpu = 100 * (ownCpuSeconds() - ownAtStart) / figures.seconds;
    figures.brokerCpu = 100 * (processCpuSeconds(broker.processId()) - brokerAtStart) / figures.seconds;
    for (const auto &board : boards) {
        board->cpu = 100 * (processCpuSeconds(board->logger.processId()) - board->cpuAtStart) / figures.seconds;
        figures.loggerCpuMean += board->cpu / n;
        figures.loggerCpuMax = std::max(figures.loggerCpuMax, board->cpu);
    }

    // The last batches out, then an orderly stop; each logger says what it recorded.
    QTest::qWait(500);
    for (const auto &board : boards)
        board->logger.terminate();
    for (const auto &board : boards) {
        board->logger.waitForFinished(10000);
        QFile log(dir.filePath(board->name + QLatin1String(".log")));
        if (log.open(QIODevice::ReadOnly)) {
            const QByteArray text = log.readAll();
            const int at = text.lastIndexOf("stopped: ");
            if (at >= 0)
                board->rows = text.mid(at + 9, text.indexOf(' ', at + 9) - at - 9).toLongLong();
            // "stopped publishing: D reports delivered, L lost, U undelivered"
            const QList<QByteArray> words = text.mid(text.lastIndexOf("stopped publishing: ")).split(' ');
            if (words.size() >= 8) {
                figures.dropped += words.at(5).toLongLong();
                figures.undelivered += words.at(7).toLongLong();
            }
        }
        figures.rows += std::max<qint64>(board->rows, 0);
    }
    (void)QTest::qWaitFor(
        [&] {
            qint64 received = 0;
            for (const auto &board : boards)
                received += board->received;
            return received >= figures.rows;
        },
        10000);
    for (const auto &board : boards) {
        figures.received += board->received;
        figures.gaps += board->reader.lost();
        figures.duplicates += board->reader.duplicates();
        if (board->rows < 0 && figures.trouble.isEmpty())
            figures.trouble = QStringLiteral("%1's logger did not say what it recorded").arg(board->name);
    }
    subscriber.stop();
    broker.terminate();
    broker.waitForFinished(5000);

    std::sort(delaysMs.begin(), delaysMs.end());
    const auto at = [&](double q) { return delaysMs.empty() ? 0.0 : delaysMs[size_t(q * double(delaysMs.size() - 1))]; };
    figures.p50 = at(0.5);
    figures.p99 = at(0.99);
    figures.max = at(1.0);
    figures.reportsPerSecond = double(measuredReports) / figures.seconds;
    figures.messagesPerSecond = double(messages) / figures.seconds;
    figures.bytesPerSecond = double(payloadBytes) / figures.seconds;
    return figures;
}

void print(const Options &options, const Figures &f)
{
    std::printf("%d boards at %.0f/s, %.1f s measured after %.0f s of warm-up\n", f.boards, options.rate, f.seconds,
                WarmUpSeconds);
    if (!f.trouble.isEmpty())
        std::printf("  not measured: %s\n", qPrintable(f.trouble));
    std::printf("  reports recorded %lld, received %lld, lost %lld (seq gaps %lld), duplicates %lld\n",
                static_cast<long long>(f.rows), static_cast<long long>(f.received), static_cast<long long>(f.lost()),
                static_cast<long long>(f.gaps), static_cast<long long>(f.duplicates));
    if (f.lost() > 0)
        std::printf("  of the lost: dropped by the loggers' queues %lld, still queued when they stopped %lld\n",
                    static_cast<long long>(f.dropped), static_cast<long long>(f.undelivered));
    std::printf("  delay, arrival at the logger -> the subscriber: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", f.p50,
                f.p99, f.max);
    std::printf("  CPU, %% of one core: a logger %.2f mean, %.2f max; the broker %.2f; this program (boards and "
                "subscriber) %.2f\n",
                f.loggerCpuMean, f.loggerCpuMax, f.brokerCpu, f.ownCpu);
    std::printf("  the broker carries %.0f reports/s in %.0f messages/s, %.0f kB/s of payload (each way)\n",
                f.reportsPerSecond, f.messagesPerSecond, f.bytesPerSecond / 1000);
    std::fflush(stdout);
}

int usage()
{
    std::fprintf(stderr, "usage: orvale-bench-lab [--boards N] [--seconds S] [--rate R] [--ramp] [--max-boards N] [--lines FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString next = args.value(i + 1);
        if (arg == QLatin1String("--ramp")) {
            options.ramp = true;
            continue;
        }
        bool ok = false;
        if (arg == QLatin1String("--boards"))
            options.boards = next.toInt(&ok);
        else if (arg == QLatin1String("--max-boards"))
            options.maxBoards = next.toInt(&ok);
        else if (arg == QLatin1String("--seconds"))
            options.seconds = next.toDouble(&ok);
        else if (arg == QLatin1String("--rate"))
            options.rate = next.toDouble(&ok);
        else if (arg == QLatin1String("--lines"))
            ok = !(options.lines = next).isEmpty();
        if (!ok)
            return usage();
        ++i;
    }
    if (options.boards < 1 || options.seconds <= 0 || options.rate <= 0)
        return usage();
    // Each board holds a pseudo-terminal, a process and a log here.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    std::vector<Figures> rounds;
    for (int n = options.boards; n <= (options.ramp ? options.maxBoards : options.boards); n *= 2) {
        rounds.push_back(runLab(options, n));
        print(options, rounds.back());
        const Figures &f = rounds.back();
        if (!f.trouble.isEmpty() || f.lost() > 0 || f.p99 > DelayLimitMs)
            break;
    }
    if (rounds.size() > 1) {
        std::printf("\n| boards | reports/s | lost | p50 | p99 | logger CPU mean (max) | broker CPU | messages/s | kB/s |\n"
                    "|---|---|---|---|---|---|---|---|---|\n");
        for (const Figures &f : rounds)
            std::printf("| %d | %.0f | %lld | %.0f ms | %.0f ms | %.2f%% (%.2f%%) | %.2f%% | %.0f | %.0f |\n", f.boards,
                        f.reportsPerSecond, static_cast<long long>(f.lost()), f.p50, f.p99, f.loggerCpuMean,
                        f.loggerCpuMax, f.brokerCpu, f.messagesPerSecond, f.bytesPerSecond / 1000);
    }
    return 0;
}

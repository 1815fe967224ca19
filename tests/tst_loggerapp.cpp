// SPDX-License-Identifier: GPL-3.0-or-later
// orvale-logger itself, run as a service manager runs it, on a
// pseudo-terminal board: what it records, SIGHUP and SIGTERM, the wait for a
// vanished port, the service manager's READY=1, bad starts, the summary of
// a folder, and that it needs no window system.

#include "commframe.h"
#include "csvrecorder.h"
#include "housekeeper.h"
#include "mosquittobroker.h"
#include "ptyboard.h"
#include "recordingfolder.h"
#include "reports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// `count` reports of the values first, first + 1, ...
QByteArray reports(uint32_t first, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += reportBytes(first + uint32_t(i));
    return bytes;
}

// The value column of every row of the folder's plain files, oldest file first.
struct Rows
{
    QStringList values;
    int files = 0;
    bool headers = true;  // every file begins with its header
};

Rows rowsIn(const QString &dir, const QString &name)
{
    Rows rows;
    for (const RecordingFolder::File &file : RecordingFolder(dir, name).files()) {
        QFile f(file.path);
        if (file.kind != RecordingFolder::Kind::Plain || !f.open(QIODevice::ReadOnly))
            continue;
        ++rows.files;
        const QList<QByteArray> lines = f.readAll().split('\n');
        rows.headers = rows.headers && lines.value(0).startsWith("utc_time,");
        for (int i = 1; i < lines.size(); ++i) {
            if (!lines.at(i).isEmpty())
                rows.values << QString::fromLatin1(lines.at(i).split(',').value(2));
        }
    }
    return rows;
}

QStringList expectedValues(uint32_t first, int count)
{
    QStringList values;
    for (int i = 0; i < count; ++i)
        values << orvale::valueText(first + uint32_t(i));
    return values;
}

class Logger
{
public:
    explicit Logger(const QStringList &arguments, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ORVALE_LOGGER), arguments);
    }
    ~Logger()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Stderr so far.
    QString messages() { return err += QString::fromLocal8Bit(process.readAllStandardError()); }
    QProcess process;
    QString err;
};

} // namespace

class TestLoggerApp : public QObject
{
    Q_OBJECT

private slots:
    // Catches: reports lost or doubled at SIGHUP, SIGHUP not beginning a new
    // file, a file without its header, SIGTERM ending without the last rows
    // (they are still pending when it comes) or with another status.
    void recordsAcrossSighupAndSigterm()
    {
        QTemporaryDir dir;
        PtyBoard board;
        const QString rec = dir.filePath(QStringLiteral("rec"));
        Logger logger({"--port", board.path, "--record", rec, "--name", "bench", "--no-compress"});
        QVERIFY(logger.process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QLatin1String("opened ")), 5000);
        QVERIFY(board.write(reports(100, 150)));
        QTRY_COMPARE_WITH_TIMEOUT(rowsIn(rec, "bench").values.size(), 150, 5000);
        logger.signal(SIGHUP);
        QTRY_VERIFY(logger.messages().contains(QLatin1String("SIGHUP: closing")));
        QVERIFY(board.write(reports(250, 150)));
        // At once: the recorder has not synced them yet when SIGTERM comes.
        QTest::qWait(50);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        QCOMPARE(logger.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(logger.process.exitCode(), 0);
        const Rows rows = rowsIn(rec, "bench");
        QCOMPARE(rows.files, 2);
        QVERIFY(rows.headers);
        QCOMPARE(rows.values, expectedValues(100, 300));
        QVERIFY2(logger.messages().contains(QLatin1String("stopped: 300 rows written")), qPrintable(logger.err));
    }

    // Catches: an absent node opened at the start (the logger would say it
    // cannot open it), a vanished port not waited for or not reopened, the
    // wait and the reopening not logged, reports of the new connection lost.
    void waitsAndReopens()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyADC"));
        const QString rec = dir.filePath(QStringLiteral("rec"));
        Logger logger({"--port", link, "--record", rec, "--no-compress"});
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QStringLiteral("waiting for %1 to appear").arg(link)), 5000);
        auto board = std::make_unique<PtyBoard>();
        QVERIFY(QFile::link(board->path, link));
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QLatin1String("opened ")), 3000);
        QVERIFY(board->write(reports(1000, 20)));
        QTRY_COMPARE_WITH_TIMEOUT(rowsIn(rec, "ttyADC").values.size(), 20, 5000);

        // Unplugged: the node goes, as an adapter's does.
        board.reset();
        QFile::remove(link);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("unplugged")), link));
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QStringLiteral("lost %1").arg(link)), 3000);
        QTest::qWait(1500);
        board = std::make_unique<PtyBoard>();
        QFile::remove(link);
        QVERIFY(QFile::link(board->path, link));
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QStringLiteral("reopened %1 after").arg(link)), 3000);
        QVERIFY(board->write(reports(2000, 20)));
        QTRY_COMPARE_WITH_TIMEOUT(rowsIn(rec, "ttyADC").values, expectedValues(1000, 20) + expectedValues(2000, 20), 5000);
        QVERIFY2(!logger.messages().contains(QLatin1String("cannot open")), qPrintable(logger.err));
        logger.signal(SIGINT);
        QVERIFY(logger.process.waitForFinished(10000));
        QCOMPARE(logger.process.exitCode(), 0);
    }

    // Catches: no READY=1 while the port is waited for, no STATUS with the
    // rows and the port's state.
    void tellsTheServiceManager()
    {
        QTemporaryDir dir;
        const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(socketPath));
        env.remove(QStringLiteral("WATCHDOG_USEC"));
        const QString link = dir.filePath(QStringLiteral("ttyNone"));
        Logger logger({"--port", link, "--record", dir.filePath(QStringLiteral("rec"))}, env);
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     char buffer[512];
                                     for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                                         received += QByteArray(buffer, int(n)) + '|';
                                     return received.contains("STATUS=0 rows written; waiting for");
                                 }()),
                                 5000);
        ::close(fd);
        QVERIFY2(received.startsWith("READY=1\nSTATUS=0 rows written; waiting for " + QFile::encodeName(link)),
                 received.constData());
    }

    // Catches: a bad value or a missing setting started anyway, a status
    // other than 2, more than one line; a folder that cannot be made
    // recorded into (status 1). The parser's words are tst_line's.
    void badStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("rotate") << QStringList{"--port", "x", "--record", "r", "--rotate", "weekly"} << 2
                                << "orvale-logger: --rotate wants hourly, daily or a size such as 64M, not \"weekly\"\n";
        QTest::newRow("no record") << QStringList{"--port", "x"} << 2
                                   << "orvale-logger: --record is needed (or record = in the --config file)\n";
        QTest::newRow("password file") << QStringList{"--port", "x", "--record", "r", "--publish", "mqtt://u@h/lab/x",
                                                      "--mqtt-password-file", "/nonexistent/pw"} << 2
                                       << "orvale-logger: --mqtt-password-file: cannot read the password file: "
                                          "/nonexistent/pw: No such file or directory\n";
        QTest::newRow("folder") << QStringList{"--port", "x", "--record", "/proc/no/such"} << 1
                                << "error: cannot record into /proc/no/such: the folder cannot be made\n";
    }

    void badStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        Logger logger(arguments);
        QVERIFY(logger.process.waitForFinished(10000));
        QCOMPARE(logger.process.exitCode(), status);
        QCOMPARE(logger.messages(), message);
    }

    // Catches: the folder's files read in name order rather than time order
    // (first_utc is then a later file's), a compressed file skipped, a file
    // with its compressed copy beside it read twice, a later file's header
    // counted as a skipped line.
    void summaryOfAFolder()
    {
        QTemporaryDir dir;
        CsvRecorder whole;
        QVERIFY(whole.start(dir.filePath(QStringLiteral("whole.csv"))));
        QDir().mkpath(dir.filePath(QStringLiteral("rec")));
        // Named against their order: "c" holds the first rows, "a" the last.
        const QStringList parts = {"c.csv", "b.csv", "a.csv"};
        qint64 t = 1700000000000;
        for (const QString &name : parts) {
            CsvRecorder part;
            QVERIFY(part.start(dir.filePath(QStringLiteral("rec/") + name)));
            for (int i = 0; i < 100; ++i, t += 8) {
                COMM_UART_OBJ frame = {};
                frame.value = 370000000u + uint32_t((i * 7919) % 1000);
                const Arrival at{t, t};
                part.append(at, frame);
                whole.append(at, frame);
            }
            part.stop();
        }
        whole.stop();
        QString error;
        const QString b = dir.filePath(QStringLiteral("rec/b.csv"));
        const QString a = dir.filePath(QStringLiteral("rec/a.csv"));
        // b.csv stays beside b.csv.zst: a compression cut between its rename and the removal.
        QVERIFY(QFile::copy(b, b + QLatin1String(".keep")));
        QVERIFY2(Housekeeper::compressFile(b, 3, nullptr, error), qPrintable(error));
        QVERIFY(QFile::rename(b + QLatin1String(".keep"), b));
        QVERIFY(Housekeeper::compressFile(a, 3, nullptr, error));
        QVERIFY(!QFile::exists(a) && QFile::exists(a + QLatin1String(".zst")));
        const auto summary = [](const QString &path) {
            QProcess logger;
            logger.start(QStringLiteral(ORVALE_LOGGER), {QStringLiteral("--summary"), path});
            logger.waitForFinished(20000);
            QByteArray json = logger.readAllStandardOutput();
            return json.mid(json.indexOf(", \"reports\""));  // all but the file's name
        };
        const QByteArray folder = summary(dir.filePath(QStringLiteral("rec")));
        QVERIFY2(folder.contains("\"reports\": 300, \"skipped\": 0,"), folder.constData());
        QCOMPARE(folder, summary(dir.filePath(QStringLiteral("whole.csv"))));
    }

    // Catches: reports not handed to the publisher, or out of order, or
    // with another board tag than --name; the queue not kept while the
    // broker is away (lost, gaps in seq); the recording held up by the
    // broker; a warning for every retry instead of one, no line when it is
    // back; SIGTERM not sending what waits and "offline" before exit 0.
    void publishesAcrossABrokerOutage()
    {
        MosquittoBroker mqtt;
        const QString missing = mqtt.missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(mqtt.setUp());
        QTemporaryDir dir;
        QFile password(dir.filePath(QStringLiteral("pw")));
        QVERIFY(password.open(QIODevice::WriteOnly) && password.write(MosquittoBroker::Password) > 0);
        password.close();
        const BrokerUrl url = mqtt.url(false, QStringLiteral("lab/bench3"));

        Subscriber watcher(url, "logger-watcher");
        const QVector<orvale::lineprotocol::LineReport> &got = watcher.reports;
        QTRY_VERIFY_WITH_TIMEOUT(watcher.client.isConnected(), 5000);

        PtyBoard board;
        const QString rec = dir.filePath(QStringLiteral("rec"));
        Logger logger({"--port", board.path, "--record", rec, "--name", "bench 3", "--no-compress", "--publish",
                       url.toString(), "--mqtt-password-file", password.fileName()});
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QLatin1String("connected to the broker at")), 5000);
        QVERIFY(board.write(reports(100, 100)));
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 100, 5000);

        mqtt.stop();
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QLatin1String("cannot publish to")), 5000);
        for (uint32_t first = 200; first < 500; first += 100) {
            QVERIFY(board.write(reports(first, 100)));
            QTest::qWait(300);
        }
        // On disk while the broker is away, and retried meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(rowsIn(rec, "bench 3").values.size(), 400, 5000);
        QTest::qWait(2000);
        QVERIFY(mqtt.start());
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 400, 20000);
        QVERIFY2(logger.messages().contains(QLatin1String("again after")), qPrintable(logger.err));
        QVERIFY2(logger.err.contains(QLatin1String("reports lost meanwhile: 0")), qPrintable(logger.err));
        QCOMPARE(logger.err.count(QLatin1String("cannot publish to")), 1);
        // In order, each once; a gap in seq would be counted lost.
        QStringList values;
        for (const orvale::lineprotocol::LineReport &report : got) {
            QCOMPARE(report.board, QStringLiteral("bench 3"));
            values << orvale::valueText(report.value);
        }
        QCOMPARE(values, expectedValues(100, 400));
        QCOMPARE(watcher.reader.lost(), 0);

        QVERIFY(board.write(reports(500, 20)));
        QTest::qWait(50);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        QCOMPARE(logger.process.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 420, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.statuses.value(watcher.statuses.size() - 1), QByteArray("offline"), 5000);
        QVERIFY2(logger.messages().contains(QLatin1String("stopped publishing: 420 reports delivered, 0 lost, 0 undelivered")),
                 qPrintable(logger.err));
    }

    // Catches: the recording waiting for a broker that is not there, a
    // warning for every retry, SIGTERM hanging on the absent broker or
    // ending with another status than 0.
    void recordsAndStopsWithoutTheBroker()
    {
        QTemporaryDir dir;
        PtyBoard board;
        const QString rec = dir.filePath(QStringLiteral("rec"));
        const QString url = QStringLiteral("mqtt://127.0.0.1:%1/lab/away").arg(MosquittoBroker::freePort());
        Logger logger({"--port", board.path, "--record", rec, "--no-compress", "--publish", url});
        QTRY_VERIFY_WITH_TIMEOUT(logger.messages().contains(QLatin1String("cannot publish to")), 5000);
        QVERIFY(board.write(reports(7, 50)));
        QTRY_COMPARE_WITH_TIMEOUT(rowsIn(rec, QFileInfo(board.path).fileName()).values, expectedValues(7, 50), 5000);
        QTest::qWait(2000);  // attempts at 0.5, 1.5 and 3.5 s
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(4000));
        QCOMPARE(logger.process.exitCode(), 0);
        QCOMPARE(logger.messages().count(QLatin1String("cannot publish to")), 1);
        QVERIFY2(logger.err.contains(QLatin1String("stopped publishing: 0 reports delivered, 0 lost, 50 undelivered")),
                 qPrintable(logger.err));
    }

    // Catches: anything of the window system linked into the program.
    void needsNoGui()
    {
        const QString ldd = QStandardPaths::findExecutable(QStringLiteral("ldd"));
        if (ldd.isEmpty())
            QSKIP("no ldd on this system");
        QProcess process;
        process.start(ldd, {QStringLiteral(ORVALE_LOGGER)});
        QVERIFY(process.waitForFinished(30000));
        const QString libraries = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(libraries.contains(QLatin1String("SerialPort")), qPrintable(libraries));
        for (const char *unwanted : {"Gui", "Widgets", "libX11", "libxcb", "libGL.", "libEGL", "libOpenGL"})
            QVERIFY2(!libraries.contains(QLatin1String(unwanted)), unwanted);
    }
};

QTEST_GUILESS_MAIN(TestLoggerApp)
#include "tst_loggerapp.moc"

#include "commframe.h"
#include "framereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace orvale;

namespace {

constexpr int Patience = 10000;  // ms; generous, a run takes a second or two

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The worked command: device A3, 62 Sa/s, "Average value", CH1.
const QByteArray knownCommand = hex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9");

QByteArray command(uint8_t id, orvale::SettingsGroup settings)
{
    COMM_UART_OBJ frame = frameFromBytes(knownCommand.constData());
    frame.dev_id = id;
    std::copy(settings.cbegin(), settings.cend(), &frame.sa_code);
    sealFrame(frame);
    return frameBytes(frame);
}

QList<QByteArray> framesIn(const QByteArray &stream)
{
    FrameReader reader;
    QList<QByteArray> frames;
    for (const COMM_UART_OBJ &frame : reader.feed(stream))
        frames << frameBytes(frame);
    return frames;
}

// One run of the simulator, the test holding the client's end of its line.
class SimRun
{
public:
    explicit SimRun(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(ORVALE_BOARD_SIM), arguments);
    }

    ~SimRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(Patience);
        }
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // The line's path as printed on standard output; empty if none came.
    QString waitForPath()
    {
        if (!QTest::qWaitFor([this] { return m_process.canReadLine() || m_process.state() == QProcess::NotRunning; },
                             Patience))
            return QString();
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    // Opens the line as a client does, raw; reads as bytes arrive if `read`.
    bool open(const QString &path, bool read = true)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios tio = {};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return false;
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        m_notifier->setEnabled(read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readAvailable(); });
        return true;
    }

    void startReading() { m_notifier->setEnabled(true); }

    bool write(const QByteArray &bytes) const
    {
        return ::write(m_fd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }

    bool waitForExit()
    {
        return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, Patience);
    }

    bool waitForLine(const QByteArray &line)
    {
        return QTest::qWaitFor([&] { return errorLines().contains(line); }, Patience);
    }

    QList<QByteArray> errorLines()
    {
        m_stderr += m_process.readAllStandardError();
        QList<QByteArray> lines = m_stderr.split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    // The 16 bytes of each `report` line, valid ones only or all.
    QList<QByteArray> loggedReports(bool validOnly)
    {
        QList<QByteArray> reports;
        for (const QByteArray &line : errorLines()) {
            if (line.startsWith("report ") && !(validOnly && line.endsWith(" corrupted")))
                reports << hex(line.mid(7, 47).constData());
        }
        return reports;
    }

    // Everything the log says was written, junk and reports, in order.
    QByteArray loggedStream()
    {
        QByteArray stream;
        for (const QByteArray &line : errorLines()) {
            if (line.startsWith("junk "))
                stream += hex(line.mid(5).constData());
            else if (line.startsWith("report "))
                stream += hex(line.mid(7, 47).constData());
        }
        return stream;
    }

    QProcess &process() { return m_process; }
    const QByteArray &received() const { return m_received; }

private:
    void readAvailable()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                m_received.append(buffer, static_cast<int>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // EAGAIN: all read; EIO: the simulator has gone.
                if (n == 0 || errno != EAGAIN)
                    m_notifier->setEnabled(false);
                return;
            }
        }
    }

    QProcess m_process;
    QByteArray m_stderr;
    QByteArray m_received;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    void reportContents_data();
    void reportContents();
    void rateFollowsCodeOrOption_data();
    void rateFollowsCodeOrOption();
    void faultyStreamsYieldExactlyTheLoggedReports_data();
    void faultyStreamsYieldExactlyTheLoggedReports();
    void commandsChangeIdAndSettings();
    void stopWaitsForTheClientToRead();
    void linkIsMadeAndRemoved_data();
    void linkIsMadeAndRemoved();
    void linkRefusesToReplaceOtherFiles_data();
    void linkRefusesToReplaceOtherFiles();
    void linkReplacedDuringRunIsLeftAlone();
    void badOptions_data();
    void badOptions();
};

void TestBoardSim::reportContents_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("echo");  // bytes 1-3 and 12-13
    QTest::addColumn<uint>("lowest");
    QTest::addColumn<uint>("highest");

    QTest::newRow("defaults: A1, 10 Sa/s, Kalman, AVDD, 3.7 V with noise")
        << QStringList{} << 0xA1 << hex("01 04 00 03") << hex("00 00 00 00 00") << 369500000u << 370500000u;
    QTest::newRow("fixed value, echo bytes, id and codes")
        << QStringList{"--value", "2.5", "--echo", "0102030405", "--id", "0x05", "--sa", "3", "--fil", "0", "--ch", "1"}
        << 0x05 << hex("03 00 00 01") << hex("01 02 03 04 05") << 250000000u << 250000000u;
    QTest::newRow("codes outside the tables, full-range value")
        << QStringList{"--value", "42.94967295", "--sa", "9", "--fil", "200", "--ch", "255", "--id", "0"}
        << 0x00 << hex("09 c8 00 ff") << hex("00 00 00 00 00") << 0xFFFFFFFFu << 0xFFFFFFFFu;
}

void TestBoardSim::reportContents()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, id);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, echo);
    QFETCH(uint, lowest);
    QFETCH(uint, highest);

    SimRun run(arguments + QStringList{"--count", "5", "--rate", "50"});
    const QString path = run.waitForPath();
    QVERIFY2(path.startsWith(QLatin1String("/dev/pts/")), qPrintable(path));
    QVERIFY(run.open(path));
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitCode(), 0);

    const QList<QByteArray> frames = framesIn(run.received());
    QCOMPARE(frames.size(), 5);
    QCOMPARE(run.received().size(), 5 * FrameSize);
    QSet<uint32_t> values;
    for (const QByteArray &bytes : frames) {
        const COMM_UART_OBJ frame = frameFromBytes(bytes.constData());
        QCOMPARE(int(frame.dev_id), id);
        QCOMPARE(bytes.mid(4, 4), settings);
        QCOMPARE(bytes.mid(1, 3) + bytes.mid(12, 2), echo);
        QVERIFY2(frame.value >= lowest && frame.value <= highest, qPrintable(QString::number(frame.value)));
        values << frame.value;
    }
    if (lowest != highest)
        QVERIFY2(values.size() > 1, "the value should carry noise");
    QVERIFY(run.errorLines().contains("sent 5 reports (5 valid)"));
}

void TestBoardSim::rateFollowsCodeOrOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<double>("perSecond");

    QTest::newRow("code 0: 4/s") << QStringList{"--sa", "0"} << 4.0;
    QTest::newRow("code 1 (default): 10/s") << QStringList{} << 10.0;
    QTest::newRow("code 2: 62/s") << QStringList{"--sa", "2"} << 62.0;
    QTest::newRow("code 3: 123/s") << QStringList{"--sa", "3"} << 123.0;
    QTest::newRow("code 7 keeps 10/s") << QStringList{"--sa", "7"} << 10.0;
    QTest::newRow("--rate wins over the code") << QStringList{"--sa", "0", "--rate", "40"} << 40.0;
}

void TestBoardSim::rateFollowsCodeOrOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(double, perSecond);

    // One second: a report at the start and one per period after it. The
    // bounds only tell the rates apart; they are not a timing benchmark.
    SimRun run(arguments + QStringList{"--duration", "1"});
    QVERIFY(run.open(run.waitForPath()));
    QVERIFY(run.waitForExit());
    const double expected = std::floor(perSecond) + 1;
    const double slack = expected * 0.25 + 2;
    const int received = framesIn(run.received()).size();
    QVERIFY2(received >= expected - slack && received <= expected + slack,
             qPrintable(QStringLiteral("%1 reports, expected about %2").arg(received).arg(expected)));
}

void TestBoardSim::faultyStreamsYieldExactlyTheLoggedReports_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("valid");

    QTest::newRow("split") << QStringList{"--split", "--burst"} << 60 << 60;
    QTest::newRow("every 4th corrupted") << QStringList{"--corrupt", "4", "--burst"} << 60 << 45;
    QTest::newRow("every frame corrupted") << QStringList{"--corrupt", "1", "--burst"} << 20 << 0;
    QTest::newRow("5 junk bytes") << QStringList{"--junk", "5", "--burst"} << 60 << 60;
    QTest::newRow("junk longer than a frame") << QStringList{"--junk", "300", "--burst"} << 30 << 30;
    // With seeds 1 and 2 this run holds a few places where junk or a
    // corrupted frame's rest and the next frame's start form a window whose
    // checksum holds by chance; the simulator must pad them apart.
    QTest::newRow("chance frames between corrupted ones") << QStringList{"--corrupt", "1", "--junk", "3", "--burst"}
                                                          << 2000 << 0;
    QTest::newRow("all faults, burst") << QStringList{"--split", "--corrupt", "3", "--junk", "17", "--burst"} << 300 << 200;
    QTest::newRow("all faults, at a rate") << QStringList{"--split", "--corrupt", "2", "--junk", "3", "--rate", "300"}
                                           << 40 << 20;
}

void TestBoardSim::faultyStreamsYieldExactlyTheLoggedReports()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, count);
    QFETCH(int, valid);

    for (const char *seed : {"1", "2"}) {
        SimRun run(arguments + QStringList{"--count", QString::number(count), "--seed", seed, "--log-reports"});
        QVERIFY(run.open(run.waitForPath()));
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process().exitCode(), 0);

        // The line carried exactly what the log says, and a frame reader
        // finds in it exactly the reports logged as valid.
        QCOMPARE(run.received().toHex(' '), run.loggedStream().toHex(' '));
        const QList<QByteArray> logged = run.loggedReports(true);
        QCOMPARE(framesIn(run.received()), logged);
        QCOMPARE(logged.size(), valid);
        QCOMPARE(run.loggedReports(false).size(), count);
        for (const QByteArray &report : run.loggedReports(false))
            QCOMPARE(checksumMatches(frameFromBytes(report.constData())), logged.contains(report));
        QVERIFY(run.errorLines().contains(QStringLiteral("sent %1 reports (%2 valid)").arg(count).arg(valid).toLatin1()));
    }
}

void TestBoardSim::commandsChangeIdAndSettings()
{
    SimRun run({"--sa", "0", "--duration", "2", "--log-reports"});
    QVERIFY(run.open(run.waitForPath()));
    QVERIFY(QTest::qWaitFor([&] { return run.received().size() >= FrameSize; }, Patience));

    QVERIFY(run.write(knownCommand));
    QVERIFY(run.waitForLine("command a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9 applied: id 0xA3 sa 2 fil 1 ch 0"));

    // A command whose checksum fails changes nothing and is logged as such.
    QByteArray invalid = knownCommand;
    invalid[0] = char(0xA5);
    QVERIFY(run.write(invalid));
    QVERIFY(run.waitForLine("ignored " + invalid.toHex(' ')));

    // Junk, then a valid command arriving in two writes.
    const QByteArray second = command(0xA4, {2, 0, 0, 1});
    QVERIFY(run.write(hex("ff ee") + second.left(7)));
    QVERIFY(run.write(second.mid(7)));
    QVERIFY(run.waitForLine("ignored ff ee"));
    QVERIFY(run.waitForLine("command " + second.toHex(' ') + " applied: id 0xA4 sa 2 fil 0 ch 1"));

    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitCode(), 0);

    // Old settings until the first report after the command, the new ones
    // from then on; the ignored command never shows.
    const QList<QByteArray> frames = framesIn(run.received());
    QCOMPARE(frames, run.loggedReports(true));
    const QByteArray before = hex("a1 00 00 00 00 04 00 03");
    const QByteArray afterFirst = hex("a3 00 00 00 02 01 00 00");
    const QByteArray afterSecond = hex("a4 00 00 00 02 00 00 01");
    int stage = 0;
    int changed = 0;
    for (const QByteArray &frame : frames) {
        const QByteArray head = frame.left(8);
        if (stage == 0 && head == afterFirst)
            stage = 1;
        if (stage <= 1 && head == afterSecond)
            stage = 2;
        const QByteArray expected = stage == 0 ? before : stage == 1 ? afterFirst : afterSecond;
        QCOMPARE(head.toHex(' '), expected.toHex(' '));
        changed += stage > 0;
    }
    QCOMPARE(stage, 2);
    // Code 2 means 62 reports a second instead of 4: far more than the few
    // the old rate would give in the time left.
    QVERIFY2(changed >= 30, qPrintable(QString::number(changed)));
}

void TestBoardSim::stopWaitsForTheClientToRead()
{
    // Closing the master discards what the client has not read, so at a
    // stop the simulator must wait for its client.
    SimRun run({"--count", "3", "--rate", "100", "--log-reports"});
    QVERIFY(run.open(run.waitForPath(), false));
    QVERIFY(QTest::qWaitFor([&] { return run.loggedReports(true).size() == 3; }, Patience));
    QTest::qWait(300);
    QCOMPARE(run.process().state(), QProcess::Running);

    run.startReading();
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitCode(), 0);
    QCOMPARE(framesIn(run.received()), run.loggedReports(true));
}

void TestBoardSim::linkIsMadeAndRemoved_data()
{
    QTest::addColumn<QString>("existing");  // what is at the link's path before
    QTest::addColumn<bool>("byCount");       // stop by --count, else by SIGTERM

    QTest::newRow("new link, stopped by count") << QString() << true;
    QTest::newRow("new link, stopped by SIGTERM") << QString() << false;
    QTest::newRow("replaces a dangling link") << QStringLiteral("dangling") << true;
    QTest::newRow("replaces a link to a file") << QStringLiteral("to file") << true;
}

void TestBoardSim::linkIsMadeAndRemoved()
{
    QFETCH(QString, existing);
    QFETCH(bool, byCount);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString file = dir.filePath(QStringLiteral("keep.txt"));
    if (existing == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), link));
    if (existing == QLatin1String("to file")) {
        QFile keep(file);
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("kept");
        keep.close();
        QVERIFY(QFile::link(file, link));
    }

    QStringList arguments{"--link", link, "--rate", "50"};
    if (byCount)
        arguments << "--count" << "3";
    SimRun run(arguments);
    const QString path = run.waitForPath();
    QVERIFY(!path.isEmpty());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFile::symLinkTarget(link), path);

    // A client reaches the board through the link.
    QVERIFY(run.open(link));
    QVERIFY(QTest::qWaitFor([&] { return run.received().size() >= 3 * FrameSize; }, Patience));
    if (!byCount)
        run.process().terminate();
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);

    struct stat info = {};
    QCOMPARE(::lstat(QFile::encodeName(link).constData(), &info), -1);
    if (existing == QLatin1String("to file")) {
        QFile keep(file);
        QVERIFY(keep.open(QIODevice::ReadOnly));
        QCOMPARE(keep.readAll(), QByteArray("kept"));
    }
}

void TestBoardSim::linkRefusesToReplaceOtherFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("regular file") << QStringLiteral("file");
    QTest::newRow("directory") << QStringLiteral("directory");
    QTest::newRow("named pipe") << QStringLiteral("fifo");
}

void TestBoardSim::linkRefusesToReplaceOtherFiles()
{
    QFETCH(QString, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("COM1"));
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("COM1")));
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    struct stat before = {};
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &before), 0);

    SimRun run({"--link", path});
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitCode(), 1);
    QVERIFY(run.process().readAllStandardOutput().isEmpty());
    const QByteArray message = run.errorLines().join('\n');
    QVERIFY2(message.contains("refusing to replace") && message.contains(QFile::encodeName(path)), message);

    struct stat after = {};
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious"));
    }
}

void TestBoardSim::linkReplacedDuringRunIsLeftAlone()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString other = dir.filePath(QStringLiteral("other"));

    SimRun run({"--link", link});
    QVERIFY(!run.waitForPath().isEmpty());
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(other, link));

    run.process().terminate();
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitCode(), 0);
    QCOMPARE(QFile::symLinkTarget(link), other);
    const QByteArray message = run.errorLines().join('\n');
    QVERIFY2(message.contains("left " + QFile::encodeName(link) + " in place"), message);
}

void TestBoardSim::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("mentions");

    QTest::newRow("--rate with --burst") << QStringList{"--rate", "5", "--burst"} << QByteArray("--burst");
    QTest::newRow("id out of range") << QStringList{"--id", "256"} << QByteArray("--id");
    QTest::newRow("id not a number") << QStringList{"--id", "A1"} << QByteArray("--id");
    QTest::newRow("negative code") << QStringList{"--sa", "-1"} << QByteArray("--sa");
    QTest::newRow("rate zero") << QStringList{"--rate", "0"} << QByteArray("--rate");
    QTest::newRow("rate not a number") << QStringList{"--rate", "fast"} << QByteArray("--rate");
    QTest::newRow("value beyond 32 bits") << QStringList{"--value", "43"} << QByteArray("--value");
    QTest::newRow("negative value") << QStringList{"--value", "-1"} << QByteArray("--value");
    QTest::newRow("echo too short") << QStringList{"--echo", "0102"} << QByteArray("--echo");
    QTest::newRow("echo not hex") << QStringList{"--echo", "01020304zz"} << QByteArray("--echo");
    QTest::newRow("corrupt zero") << QStringList{"--corrupt", "0"} << QByteArray("--corrupt");
    QTest::newRow("junk too long") << QStringList{"--junk", "5000"} << QByteArray("--junk");
    QTest::newRow("count zero") << QStringList{"--count", "0"} << QByteArray("--count");
    QTest::newRow("duration not a number") << QStringList{"--duration", "1s"} << QByteArray("--duration");
    QTest::newRow("seed negative") << QStringList{"--seed", "-3"} << QByteArray("--seed");
    QTest::newRow("option given twice") << QStringList{"--id", "1", "--id", "2"} << QByteArray("--id");
    QTest::newRow("option without its value") << QStringList{"--count"} << QByteArray("count");
    QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << QByteArray("baud");
    QTest::newRow("stray argument") << QStringList{"COM1"} << QByteArray("COM1");
}

void TestBoardSim::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, mentions);

    SimRun run(arguments);
    QVERIFY(run.waitForExit());
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 2);
    // No line was opened, so nothing went to standard output.
    QVERIFY(run.process().readAllStandardOutput().isEmpty());
    const QByteArray message = run.errorLines().join('\n');
    QVERIFY2(message.startsWith("error: ") && message.contains(mentions), message);
}

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"

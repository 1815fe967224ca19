// SPDX-License-Identifier: GPL-3.0-or-later
// What the other suites rely on in the simulated board: valid reports, its
// faults leaving exactly the ones it logs as valid, commands applied, --link
// replacing nothing but a symbolic link, bad options refused (exit code 2).

#include "commframe.h"
#include "framereader.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace orvale;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
const QByteArray knownCommand = hex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9");

QList<QByteArray> framesIn(const QByteArray &stream)
{
    FrameReader reader;
    QList<QByteArray> frames;
    for (const COMM_UART_OBJ &frame : reader.feed(stream))
        frames << frameBytes(frame);
    return frames;
}

// One run of the simulator, the test holding the client's end of its line;
// what arrives there is read whenever the test waits.
class SimRun
{
public:
    explicit SimRun(const QStringList &arguments) { process.start(ORVALE_BOARD_SIM, arguments); }
    ~SimRun()
    {
        process.kill();
        process.waitForFinished();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    QString waitForPath()
    {
        (void)waitFor([this] { return process.canReadLine() || process.state() == QProcess::NotRunning; });
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    bool open(const QString &path)  // the simulator has made its line raw
    {
        return (m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) >= 0;
    }
    bool write(const QByteArray &bytes) { return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    bool waitFor(const std::function<bool()> &done)
    {
        return QTest::qWaitFor([&] {
            char buffer[4096];
            for (ssize_t n; m_fd >= 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
                received.append(buffer, int(n));
            return done();
        }, 10000);
    }
    bool waitForExit() { return waitFor([this] { return process.state() == QProcess::NotRunning; }); }
    bool waitForLine(const QByteArray &line) { return waitFor([&] { return errorLines().contains(line); }); }
    QList<QByteArray> errorLines() { return (m_stderr += process.readAllStandardError()).split('\n'); }
    // The 16 bytes of each logged report, valid ones only or all.
    QList<QByteArray> loggedReports(bool validOnly)
    {
        QList<QByteArray> reports;
        for (const QByteArray &line : errorLines()) {
            if (line.startsWith("report ") && !(validOnly && line.endsWith(" corrupted")))
                reports << QByteArray::fromHex(line.mid(7, 47));
        }
        return reports;
    }

    QProcess process;
    QByteArray received;

private:
    QByteArray m_stderr;
    int m_fd = -1;
};

} // namespace

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    void reportsDecodeAndFaultsLeaveTheLoggedOnes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("valid");
        QTest::newRow("split") << QStringList{"--split", "--burst"} << 60 << 60;
        QTest::newRow("every 4th corrupted, long junk") << QStringList{"--corrupt", "4", "--junk", "300", "--burst"} << 60 << 45;
        // Seeds 1 and 2 make junk or a corrupted frame's rest and the next frame's
        // start form windows whose checksum holds by chance: they must be padded apart.
        QTest::newRow("chance frames") << QStringList{"--corrupt", "1", "--junk", "3", "--burst"} << 2000 << 0;
        QTest::newRow("all faults at a rate") << QStringList{"--split", "--corrupt", "2", "--junk", "3", "--rate", "300"}
                                              << 40 << 20;
    }

    void reportsDecodeAndFaultsLeaveTheLoggedOnes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, count);
        QFETCH(int, valid);
        for (const char *seed : {"1", "2"}) {
            SimRun run(arguments + QStringList{"--count", QString::number(count), "--seed", seed, "--log-reports"});
            QVERIFY(run.open(run.waitForPath()));
            QVERIFY(run.waitForExit());
            QCOMPARE(run.process.exitCode(), 0);
            const QList<QByteArray> frames = framesIn(run.received);
            QCOMPARE(frames, run.loggedReports(true));
            QCOMPARE(frames.size(), valid);
            QCOMPARE(run.loggedReports(false).size(), count);
            // What the end-to-end run relies on: A1, 10 Sa/s, Kalman, AVDD, 3.7 V with noise.
            QSet<uint32_t> values;
            for (const QByteArray &bytes : frames) {
                QCOMPARE(bytes.left(8), hex("a1 00 00 00 01 04 00 03"));
                const uint32_t value = frameFromBytes(bytes.constData()).value;
                QVERIFY2(value >= 369500000u && value <= 370500000u, qPrintable(QString::number(value)));
                values << value;
            }
            QVERIFY(values.size() >= valid / 2);  // noise: hardly two alike
        }
    }

    void commandsApplied()
    {
        SimRun run({"--sa", "0", "--duration", "2", "--log-reports"});
        QVERIFY(run.open(run.waitForPath()));
        QVERIFY(run.waitFor([&] { return run.received.size() >= FrameSize; }));
        QVERIFY(run.write(knownCommand));
        QVERIFY(run.waitForLine("command " + knownCommand.toHex(' ') + " applied: id 0xA3 sa 2 fil 1 ch 0"));

        // A command whose checksum fails changes nothing.
        QByteArray invalid = knownCommand;
        invalid[0] = char(0xA5);
        QVERIFY(run.write(invalid));
        QVERIFY(run.waitForLine("ignored " + invalid.toHex(' ')));
        QVERIFY(run.waitForExit());

        // Old settings until the first report after the command, then the
        // new ones, at the new rate (62 a second rather than 4).
        const QList<QByteArray> frames = framesIn(run.received);
        int firstNew = 0;
        while (firstNew < frames.size() && frames[firstNew].left(8) == hex("a1 00 00 00 00 04 00 03"))
            ++firstNew;
        QVERIFY2(firstNew > 0 && frames.size() - firstNew >= 30, qPrintable(QString::number(frames.size() - firstNew)));
        for (const QByteArray &frame : frames.mid(firstNew))
            QCOMPARE(frame.left(8).toHex(' '), knownCommand.left(8).toHex(' '));
    }

    void linkReplacesOnlySymbolicLinks_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::newRow("nothing there") << "";
        QTest::newRow("dangling link") << "link";
        QTest::newRow("regular file") << "file";
        QTest::newRow("directory") << "directory";
        QTest::newRow("link replaced during the run") << "replaced";
    }

    void linkReplacesOnlySymbolicLinks()
    {
        QFETCH(QString, existing);
        QTemporaryDir dir;
        const QString link = dir.filePath("COM1"), other = dir.filePath("other");
        if (existing == "link")
            QVERIFY(QFile::link(other, link));
        if (existing == "file") {
            QFile file(link);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
        }
        if (existing == "directory")
            QVERIFY(QDir(dir.path()).mkdir("COM1"));

        SimRun run({"--link", link, "--rate", "50"});
        const QString path = run.waitForPath();
        if (existing == "file" || existing == "directory") {
            QVERIFY(run.waitForExit());
            QCOMPARE(run.process.exitCode(), 1);
            QVERIFY(path.isEmpty());
            QVERIFY(run.errorLines().join().contains("refusing to replace"));
            QVERIFY(existing == "directory" ? QFileInfo(link).isDir() : QFileInfo(link).size() == 8);
            return;
        }
        QCOMPARE(QFile::symLinkTarget(link), path);
        QVERIFY(run.open(link));  // a client reaches the board through the link
        QVERIFY(run.waitFor([&] { return run.received.size() >= FrameSize; }));
        if (existing == "replaced") {
            QVERIFY(QFile::remove(link));
            QVERIFY(QFile::link(other, link));
        }
        run.process.terminate();
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process.exitCode(), 0);
        // Its own link is removed at exit; one put in its place is left alone.
        QCOMPARE(QFileInfo(link).isSymLink(), existing == "replaced");
        if (existing == "replaced")
            QCOMPARE(QFile::symLinkTarget(link), other);
    }

    void badOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("--rate with --burst") << QStringList{"--rate", "5", "--burst"};
        QTest::newRow("id out of range") << QStringList{"--id", "256"};
        QTest::newRow("value beyond 32 bits") << QStringList{"--value", "43"};
        QTest::newRow("echo not hex") << QStringList{"--echo", "01020304zz"};
        QTest::newRow("option without its value") << QStringList{"--count"};
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"};
        QTest::newRow("stray argument") << QStringList{"COM1"};
    }

    void badOptions()
    {
        QFETCH(QStringList, arguments);
        SimRun run(arguments);
        QVERIFY(run.waitForExit());
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 2);
        QVERIFY(run.process.readAllStandardOutput().isEmpty());
        QVERIFY(run.errorLines().first().startsWith("error: "));
    }
};

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"

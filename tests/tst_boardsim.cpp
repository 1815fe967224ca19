// SPDX-License-Identifier: GPL-3.0-or-later
// What the other suites rely on in the simulated board: valid reports, its
// faults leaving exactly the ones it logs as valid, commands applied, --link
// replacing nothing but a symbolic link, bad options refused (exit code 2);
// and a signal the analyses can judge: white noise at the documented level
// for each rate and filter, a drift in sample time, 1/f noise below 1 Hz.

#include "framereader.h"
#include "reports.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

using namespace orvale;

namespace {

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
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 30000)
    {
        return QTest::qWaitFor([&] {
            char buffer[4096];
            for (ssize_t n; m_fd >= 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
                received.append(buffer, int(n));
            return done();
        }, timeoutMs);
    }
    bool waitForExit() { return waitFor([this] { return process.state() == QProcess::NotRunning; }); }
    bool waitForLine(const QByteArray &line) { return waitFor([&] { return errorLines().contains(line); }); }
    QList<QByteArray> errorLines() { return (m_stderr += process.readAllStandardError()).split('\n'); }
    // What the simulator logs having written, up to its first `limit` reports:
    // the line's bytes (junk and reports in order), all reports, the valid ones.
    struct Log
    {
        QByteArray stream;
        QList<QByteArray> all, valid;
    };
    Log log(int limit = INT_MAX)
    {
        Log log;
        QList<QByteArray> lines = errorLines();
        lines.removeLast();  // not yet ended
        for (const QByteArray &line : qAsConst(lines)) {
            const bool report = line.startsWith("report ");
            if (log.all.size() == limit || !(report || line.startsWith("junk ")))
                continue;
            const QByteArray bytes = QByteArray::fromHex(line.mid(line.indexOf(' ') + 1, report ? 47 : -1));
            log.stream += bytes;
            if (report)
                log.all << bytes;
            if (report && !line.endsWith(" corrupted"))
                log.valid << bytes;
        }
        return log;
    }

    QProcess process;
    QByteArray received;

private:
    QByteArray m_stderr;
    int m_fd = -1;
};

// The values of a run's `count` reports in µV, as it logs them: whole even
// when it ends before the test has read the line's last bytes, which the
// line then loses (the first test checks that the line carries what is logged).
std::vector<double> microvolts(const QStringList &arguments, int count)
{
    SimRun run(arguments + QStringList{"--count", QString::number(count), "--log-reports"});
    std::vector<double> values;
    if (!run.open(run.waitForPath()) || !run.waitForExit() || run.process.exitCode() != 0)
        return values;
    for (const QByteArray &frame : run.log().valid)
        values.push_back(frameFromBytes(frame.constData()).value / 100.0);
    return values;
}

// Overlapping Allan deviation over averages of m samples.
double allanDeviation(const std::vector<double> &x, size_t m)
{
    std::vector<double> sums(x.size() + 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i)
        sums[i + 1] = sums[i] + (x[i] - x.front());
    double squares = 0.0;
    size_t terms = 0;
    for (size_t i = 0; i + 2 * m <= x.size(); ++i, ++terms) {
        const double step = (sums[i + 2 * m] - 2 * sums[i + m] + sums[i]) / double(m);
        squares += step * step;
    }
    return std::sqrt(squares / (2.0 * double(terms)));
}

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
        QTest::newRow("chance frames") << QStringList{"--corrupt", "1", "--junk", "3", "--burst", "--uniform-noise"}
                                       << 2000 << 0;
        // Seed 1 makes a window of a corrupted frame's rest and the junk alone,
        // which only junk drawn afresh can break up.
        QTest::newRow("chance window in the junk") << QStringList{"--corrupt", "1", "--junk", "3", "--burst"} << 2000 << 0;
        QTest::newRow("all faults at a rate") << QStringList{"--split", "--corrupt", "2", "--junk", "3", "--rate", "300"}
                                              << 40 << 20;
    }

    void reportsDecodeAndFaultsLeaveTheLoggedOnes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, count);
        QFETCH(int, valid);
        for (const char *seed : {"1", "2"}) {
            // Without --count: the run goes on until the test has read its
            // reports, so none goes with the line when the simulator ends.
            SimRun run(arguments + QStringList{"--seed", seed, "--log-reports"});
            QVERIFY(run.open(run.waitForPath()));
            SimRun::Log log;
            QVERIFY(run.waitFor([&] { return (log = run.log(count)).all.size() == count && run.received.size() >= log.stream.size(); }));
            QCOMPARE(run.received.left(log.stream.size()).toHex(' '), log.stream.toHex(' '));
            const QList<QByteArray> frames = framesIn(log.stream);
            QCOMPARE(frames, log.valid);
            QCOMPARE(frames.size(), valid);
            // What the end-to-end run relies on: A1, 10 Sa/s, Kalman, AVDD, 3.7 V with noise.
            QSet<uint32_t> values;
            for (const QByteArray &bytes : frames) {
                QCOMPARE(bytes.left(8), hex("a1 00 00 00 01 04 00 03"));
                const uint32_t value = frameFromBytes(bytes.constData()).value;
                QVERIFY2(value >= 369500000u && value <= 370500000u, qPrintable(QString::number(value)));
                values << value;
            }
            QVERIFY(values.size() >= valid / 2);  // noise: hardly two alike
            run.process.terminate();
            QVERIFY(run.waitForExit());
            QCOMPARE(run.process.exitCode(), 0);
        }
    }

    void commandsApplied()
    {
        SimRun run({"--sa", "0", "--log-reports"});
        QVERIFY(run.open(run.waitForPath()));
        QVERIFY(run.waitFor([&] { return run.received.size() >= FrameSize; }));
        QVERIFY(run.write(knownCommand));
        QVERIFY(run.waitForLine("command " + knownCommand.toHex(' ') + " applied: id 0xA3 sa 2 fil 1 ch 0"));

        // A command whose checksum fails changes nothing.
        QByteArray invalid = knownCommand;
        invalid[0] = char(0xA5);
        QVERIFY(run.write(invalid));
        QVERIFY(run.waitForLine("ignored " + invalid.toHex(' ')));

        // Old settings until the first report after the command, then the new
        // ones, at the new rate: 30 of them take half a second at 62 a second,
        // 7.5 s at the old 4.
        QList<QByteArray> frames;
        int firstNew = 0;
        QVERIFY(run.waitFor([&] {
            frames = framesIn(run.received);
            for (firstNew = 0; firstNew < frames.size() && frames[firstNew].left(8) == hex("a1 00 00 00 00 04 00 03");)
                ++firstNew;
            return frames.size() - firstNew >= 30;
        }, 5000));
        QVERIFY(firstNew > 0);
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

    // Known levels from the documented formula, rms = 5 µV × √(fs/10) × the
    // filter's factor: a noise that ignored the rate or the filter, or grew
    // as fs rather than √fs, misses them.
    void whiteNoiseFollowsRateAndFilter_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<double>("rms");
        QTest::newRow("123 Sa/s unfiltered") << QStringList{"--sa", "3", "--fil", "0"} << 17.536;
        QTest::newRow("10 Sa/s Kalman") << QStringList{"--sa", "1", "--fil", "4"} << 1.75;
        QTest::newRow("62 Sa/s average") << QStringList{"--sa", "2", "--fil", "1"} << 6.225;
        // The old values, kept for whoever needs ±5 mV spread evenly.
        QTest::newRow("uniform") << QStringList{"--sa", "3", "--fil", "0", "--uniform-noise"} << 5000 / std::sqrt(3.0);
    }

    void whiteNoiseFollowsRateAndFilter()
    {
        QFETCH(QStringList, arguments);
        QFETCH(double, rms);
        if (!arguments.contains("--uniform-noise"))
            arguments << "--flicker" << "0" << "--drift" << "0";
        const std::vector<double> x = microvolts(arguments + QStringList{"--seed", "7", "--burst"}, 4000);
        QCOMPARE(x.size(), size_t(4000));
        double sum = 0.0, squares = 0.0;
        for (double v : x)
            sum += v;
        const double mean = sum / double(x.size());
        for (double v : x)
            squares += (v - mean) * (v - mean);
        const double sigma = std::sqrt(squares / double(x.size()));
        // σ of 4000 samples is known to ±1.1 %; ±4 % is over three of those.
        QVERIFY2(std::abs(sigma / rms - 1.0) < 0.04, qPrintable(QString::number(sigma)));
        QVERIFY2(std::abs(mean - 3.7e6) < 5 * rms / std::sqrt(4000.0), qPrintable(QString::number(mean, 'f', 2)));
    }

    // The voltage moves by DRIFT µV a minute of samples, whatever the pace of
    // the reports, rounded to 10 nV and held within 32 bits, never wrapped.
    void driftInSampleTime_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("last");  // counts of 10 nV
        // 1231 samples at 123 Sa/s, 10 µV a second: 100.08 µV lower.
        QTest::newRow("falls") << QStringList{"--drift", "600", "--sa", "3"} << 1231 << Q_INT64_C(369989992);
        // 100 samples at 4 Sa/s: 250 µV higher.
        QTest::newRow("rises") << QStringList{"--drift", "-600", "--sa", "0"} << 100 << Q_INT64_C(370025000);
        QTest::newRow("held at 0 V") << QStringList{"--drift", "1e9", "--sa", "3"} << 100 << Q_INT64_C(0);
        QTest::newRow("held at the top") << QStringList{"--drift", "-1e9", "--sa", "0"} << 20 << Q_INT64_C(4294967295);
    }

    void driftInSampleTime()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, count);
        QFETCH(qint64, last);
        arguments << "--noise" << "0" << "--flicker" << "0";
        const std::vector<double> burst = microvolts(arguments + QStringList{"--burst"}, count);
        QCOMPARE(burst.size(), size_t(count));
        QVERIFY2(std::abs(burst.back() * 100.0 - double(last)) <= 1.0, qPrintable(QString::number(burst.back(), 'f', 2)));
        for (size_t i = 1; i < burst.size(); ++i)
            QVERIFY(last < 370000000 ? burst[i] <= burst[i - 1] : burst[i] >= burst[i - 1]);
        // Paced by a clock, and with other randomness drawn: the same values.
        const std::vector<double> paced = microvolts(arguments + QStringList{"--rate", "2000", "--junk", "2"}, count);
        const auto differ = std::mismatch(paced.cbegin(), paced.cend(), burst.cbegin(), burst.cend());
        QVERIFY2(paced == burst, qPrintable(QStringLiteral("%1 values, the first difference at %2")
                                                .arg(paced.size())
                                                .arg(differ.first - paced.cbegin())));
    }

    // 1/f noise lifts the Allan deviation at τ = 6.4 s (10 Sa/s) to its flat
    // 1.18 × FLICKER µV, where white noise alone would have fallen to an eighth.
    void flickerBelowOneHertz_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<double>("adev");
        QTest::newRow("defaults") << QStringList{} << 0.64;  // √(0.59² + (1.75 / 8)²)
        QTest::newRow("flicker alone") << QStringList{"--noise", "0", "--flicker", "2"} << 2.36;
    }

    void flickerBelowOneHertz()
    {
        QFETCH(QStringList, arguments);
        QFETCH(double, adev);
        const std::vector<double> x = microvolts(arguments + QStringList{"--drift", "0", "--seed", "3", "--burst"}, 6000);
        QCOMPARE(x.size(), size_t(6000));
        const double measured = allanDeviation(x, 64);
        // Over 600 s the estimate spreads by about 7 % from seed to seed.
        QVERIFY2(std::abs(measured / adev - 1.0) < 0.25, qPrintable(QString::number(measured)));
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
        QTest::newRow("negative noise") << QStringList{"--noise", "-1"};
        QTest::newRow("fixed value with drift") << QStringList{"--value", "3.7", "--drift", "1"};
        QTest::newRow("uniform noise with flicker") << QStringList{"--uniform-noise", "--flicker", "1"};
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

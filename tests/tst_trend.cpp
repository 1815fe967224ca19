// SPDX-License-Identifier: GPL-3.0-or-later
// The report history's statistics and bound, and recording to CSV through
// the real window on a pseudo-terminal.

#include "csvrecorder.h"
#include "mainwindow.h"
#include "ptyboard.h"
#include "reporthistory.h"
#include "reports.h"
#include "windowdriver.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace orvale;

class TestTrend : public QObject
{
    Q_OBJECT

private slots:
    // Eight hours from UTC, so a time written in local time shows.
    void initTestCase() { qputenv("TZ", "CST-8"); }
    void statistics_data()
    {
        QTest::addColumn<uint>("base");
        QTest::addColumn<QVector<int>>("noise");  // repeated over the span
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("skip");  // reports of another level before the span
        QTest::addColumn<QString>("mean");
        QTest::addColumn<double>("rms");  // to 0.01 uV
        QTest::addColumn<double>("peakToPeak");

        // A double sum of squares over the million reports around 3.7 V keeps
        // about 3e7 counts^2 of rounding per term, and the variance is 2.5e5.
        QTest::newRow("3.7 V, 5 uV noise, a million") << 370238248u << QVector<int>{-500, 500} << 1000000 << 0
                                                      << "3.70238248" << 5.00 << 10.00;
        QTest::newRow("uneven noise, span off block edges")
            << 370238248u << QVector<int>{-700, -100, 300, 500} << 400000 << 1001 << "3.70238248" << 4.5825757 << 12.00;
        QTest::newRow("top of the 32-bit range") << 4294966295u << QVector<int>{-1000, 1000} << 1000000 << 3
                                                 << "42.94966295" << 10.00 << 20.00;
    }

    void statistics()
    {
        QFETCH(uint, base);
        QFETCH(QVector<int>, noise);
        QFETCH(int, count);
        QFETCH(int, skip);
        QFETCH(double, rms);

        // Reports every 100 ms; 1 count before and after the span must not count.
        ReportHistory history;
        for (int i = 0; i < skip + count + 300; ++i) {
            const bool inSpan = i >= skip && i < skip + count;
            history.append(i * 100, inSpan ? uint32_t(qint64(base) + noise[(i - skip) % noise.size()]) : 1);
        }

        const SpanStatistics s = history.statistics(skip, skip + count);
        QCOMPARE(s.count, qint64(count));
        QTEST(QString::number(s.mean, 'f', 8), "mean");
        QVERIFY2(qAbs(s.rmsMicrovolts - rms) < 0.005, qPrintable(QString::number(s.rmsMicrovolts, 'f', 4)));
        QTEST(s.peakToPeakMicrovolts, "peakToPeak");
        QCOMPARE(QString::number(s.ratePerSecond, 'f', 1), QStringLiteral("10.0"));
    }

    void historyBound()
    {
        // Falling values: the largest are the oldest, which must go.
        ReportHistory history;
        const qint64 capacity = ReportHistory::DefaultCapacity;
        const qint64 extra = 1000;
        for (qint64 i = 0; i < capacity + extra; ++i)
            history.append(i, uint32_t(capacity + extra - i));

        QCOMPARE(history.size(), capacity);
        QCOMPARE(history.firstIndex(), extra);
        const SpanStatistics all = history.statistics(0, history.endIndex());
        QCOMPARE(all.maxCounts, uint32_t(capacity));
        QCOMPARE(all.minCounts, 1u);
        QCOMPARE(all.mean, double(capacity + 1) / 2 * 1e-8);
        QVERIFY2(history.bytesUsed() <= 13 * capacity, qPrintable(QString::number(history.bytesUsed())));
    }

    void recording()
    {
        PtyBoard board;
        QVERIFY(!board.path.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.csv"));
        MainWindow window;
        window.show();

        // Recording may start before the port opens and goes on across a close.
        const QDateTime started = QDateTime::currentDateTimeUtc().addMSecs(-1);
        QVERIFY(window.startRecording(path));
        QVERIFY(!child<QAction>(window, "actionStartRecording")->isEnabled()
                && child<QAction>(window, "actionStopRecording")->isEnabled());
        QCOMPARE(child<QLabel>(window, "recordingLabel")->text(), QStringLiteral("记录中：run.csv，0 条"));
        openOn(window, board.path);

        const QByteArray a = reportBytes(370238248), b = reportBytes(370238749, 2, 0), c = reportBytes(370237748, 7, 9),
                         d = reportBytes(1), e = reportBytes(0xFFFFFFFF, 0, 1);
        QByteArray corrupted = reportBytes(370000000);
        corrupted[9] = char(corrupted[9] ^ 0x10);
        // Split, joined, junk-led, corrupted, cut short, and after a re-open.
        const QList<QByteArray> reads = {a.left(5), a.mid(5) + b, QByteArray::fromHex("ff0013") + c + corrupted,
                                         d + d.left(3), e};
        auto *log = child<QTextEdit>(window, "textEdit");
        for (const QByteArray &read : reads) {
            if (read == e) {
                child<QPushButton>(window, "openButton")->click();
                openOn(window, board.path);
            }
            const int before = log->toPlainText().size();
            QVERIFY(board.write(read));
            // The window takes each piece as its own read.
            QTRY_VERIFY(log->toPlainText().size() > before);
        }
        QTRY_COMPARE(child<QLabel>(window, "adch")->text(), QStringLiteral("CH2"));
        child<QAction>(window, "actionStopRecording")->trigger();
        QTRY_VERIFY(!window.findChild<QLabel *>(QStringLiteral("recordingLabel")));

        QStringList lines = fileLines(path);
        QCOMPARE(lines.takeFirst() + QLatin1Char('\n'), QString::fromLatin1(CsvRecorder::Header));
        QCOMPARE(lines.takeLast(), QString());  // every row ends in a line end
        const QStringList expected = {
            "3.70238248,0xA1,AVDD,10 Sa/s,Kalman", "3.70238749,0xA1,CH1,62 Sa/s,Kalman",
            "3.70237748,0xA1,0x9,0x7,Kalman",      "0.00000001,0xA1,AVDD,10 Sa/s,Kalman",
            "42.94967295,0xA1,CH2,4 Sa/s,Kalman",
        };
        QCOMPARE(lines.size(), expected.size());
        for (int row = 0; row < lines.size(); ++row) {
            const QStringList fields = lines[row].split(QLatin1Char(','));
            // Written back in the same form, so UTC, milliseconds and Z are all there.
            const QDateTime at = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
            QCOMPARE(at.toString(Qt::ISODateWithMs), fields[0]);
            QVERIFY(at >= started && at <= QDateTime::currentDateTimeUtc());
            QCOMPARE(QString::number(fields[1].toDouble(), 'f', 3), fields[1]);
            QCOMPARE(fields.mid(2).join(QLatin1Char(',')), expected[row]);
        }

        // Failures: the window says so and goes on.
        auto *status = child<QStatusBar>(window, "statusBar");
        const auto failedAndWindowGoesOn = [&](uint32_t value, uint8_t ch, const char *channel) {
            QTRY_VERIFY(status->currentMessage().startsWith(QStringLiteral("记录失败：")));
            QVERIFY(child<QAction>(window, "actionStartRecording")->isEnabled()
                    && !child<QAction>(window, "actionStopRecording")->isEnabled());
            QTRY_VERIFY(!window.findChild<QLabel *>(QStringLiteral("recordingLabel")));
            QVERIFY(board.write(reportBytes(value, 1, ch)));
            QTRY_COMPARE(child<QLabel>(window, "adch")->text(), QLatin1String(channel));
        };

        // A full disk from the start.
        QVERIFY(!window.startRecording(QStringLiteral("/dev/full")));
        failedAndWindowGoesOn(111111111, 0, "CH1");
        status->clearMessage();

        // A file size limit met part way through a write, with room for three
        // rows and a half: the rows that fit stay whole, the half one goes,
        // and the window gives the system's reason.
        const QString cut = dir.filePath(QStringLiteral("cut.csv"));
        QVERIFY(window.startRecording(cut));
        QVERIFY(board.write(reportBytes(100000000) + reportBytes(100000001)));
        QTRY_VERIFY(child<QLabel>(window, "recordingLabel")->text().endsWith(QStringLiteral("，2 条")));
        const qint64 row = fileLines(cut).at(1).size() + 1;
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old = {};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit = {rlim_t(QFileInfo(cut).size() + 3 * row + row / 2), old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        for (uint32_t i = 0; i < 20; ++i)
            QVERIFY(board.write(reportBytes(200000000 + i)));
        QTRY_COMPARE(status->currentMessage(), QStringLiteral("记录失败：") + QString::fromLocal8Bit(strerror(EFBIG)));
        setrlimit(RLIMIT_FSIZE, &old);
        QStringList values;
        for (const QString &line : fileLines(cut))
            values << line.section(QLatin1Char(','), 2, 2);
        QCOMPARE(values, QStringList({"value_v", "1.00000000", "1.00000001", "2.00000000", "2.00000001", "2.00000002", ""}));
        failedAndWindowGoesOn(222222222, 2, "CH3");
    }
};

QTEST_MAIN(TestTrend)
#include "tst_trend.moc"

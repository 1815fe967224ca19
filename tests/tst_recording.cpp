// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings read back: what the recorder writes gives the live figures
// exactly, what a person's editing leaves is read or skipped line by line,
// and `orvale-qv --summary` gives them to scripts with no display.

#include "csvrecorder.h"
#include "failuretexts.h"
#include "mainwindow.h"
#include "recordingreader.h"
#include "recordingwindow.h"
#include "reporthistory.h"
#include "spananalysis.h"
#include "trendwindow.h"

#include "privatesettings.h"

#include <QComboBox>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <zstd.h>

#include <cmath>

using namespace orvale;

namespace {

// 2026-12-07T09:15:02.481Z
constexpr qint64 T0 = 1796634902481;

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

std::unique_ptr<ReportHistory> readBack(const QString &path, qint64 *skipped = nullptr)
{
    RecordingReader reader;
    if (!reader.readFile(path))
        qWarning("%s", qPrintable(readerFailureText(reader.failure())));
    if (skipped)
        *skipped = reader.skippedLines();
    return reader.takeHistory();
}

// Every figure, exactly: a recording must show what was seen live.
bool sameStatistics(const SpanStatistics &a, const SpanStatistics &b)
{
    const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    return a.count == b.count && a.ratePerSecond == b.ratePerSecond && a.mean == b.mean && a.minCounts == b.minCounts
           && a.maxCounts == b.maxCounts && a.rmsMicrovolts == b.rmsMicrovolts
           && a.peakToPeakMicrovolts == b.peakToPeakMicrovolts
           && same(a.driftMicrovoltsPerMinute, b.driftMicrovoltsPerMinute);
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // Written by roundTrip, read by the command line and the window.
    QString m_recorded;
    ReportHistory m_liveHistory;
    SpanStatistics m_live, m_liveLastMinute;

private slots:
    void initTestCase() { QVERIFY(usePrivateSettings()); }

    void roundTrip()
    {
        m_recorded = m_dir.filePath(QStringLiteral("night.csv"));
        CsvRecorder recorder;
        QVERIFY(recorder.start(m_recorded));
        ReportHistory &live = m_liveHistory;
        // Values whose text, read through a double and cut to a count, is one
        // count short (3.70238249 * 1e8 = 370238248.99999994), the extremes of
        // the 32-bit range, a rate change and a code outside the table, times
        // across a leap day and a year's end.
        const uint32_t values[] = {370238249, 370238251, 0, 0xFFFFFFFF, 1, 29, 57, 370237748};
        const qint64 starts[] = {T0, 1835481599000 /* 2028-02-29T23:59:59Z */, 1924991999500 /* 2030-12-31T23:59:59.5Z */};
        for (int i = 0; i < 3000; ++i) {
            COMM_UART_OBJ report = {0xA1, {}, uint8_t(i < 1500 ? 1 : i < 2900 ? 3 : 7), 4, 0, 3,
                                    values[i % 8] + uint32_t(i % 8 == 0 ? i % 5 : 0), 0, 0};
            const Arrival at{starts[i / 1000] + (i % 1000) * 101, 0};
            recorder.append(at, report);
            live.append(at.utcMs, report.value, report.sa_code);
        }
        recorder.stop();

        qint64 skipped = -1;
        const auto read = readBack(m_recorded, &skipped);
        QVERIFY(read);
        QCOMPARE(skipped, 0);
        QCOMPARE(read->size(), live.size());
        for (qint64 i = 0; i < live.endIndex(); ++i) {
            QCOMPARE(read->valueAt(i), live.valueAt(i));
            QCOMPARE(read->timeAt(i), live.timeAt(i));
            QCOMPARE(read->rateCodeAt(i), live.rateCodeAt(i));
        }
        m_live = live.statistics(0, live.endIndex());
        const qint64 lastMinute = live.lowerBound(live.timeAt(live.endIndex() - 1) - 60000);
        m_liveLastMinute = live.statistics(lastMinute, live.endIndex());
        QVERIFY(sameStatistics(read->statistics(0, read->endIndex()), m_live));
        QVERIFY(sameStatistics(read->statistics(lastMinute, read->endIndex()), m_liveLastMinute));
    }

    void variations_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");           // empty: read
        QTest::addColumn<QVector<qint64>>("times");   // ms after T0 of the rows read
        QTest::addColumn<QVector<uint>>("values");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<qint64>("skipped");

        const QByteArray header = CsvRecorder::Header;
        const QByteArray row0 = "2026-12-07T09:15:02.481Z,0.000,3.70238248,0xA1,AVDD,10 Sa/s,Kalman\n";
        const QByteArray row1 = "2026-12-07T09:15:02.581Z,0.100,3.70238250,0xA1,AVDD,123 Sa/s,Kalman\n";
        const QVector<qint64> twoTimes{0, 100};
        const QVector<uint> twoValues{370238248, 370238250};
        QTest::newRow("as recorded") << header + row0 + row1 << QString() << twoTimes << twoValues << QByteArray("\1\3") << 0ll;
        QTest::newRow("byte-order mark, CRLF, no last line end")
            << "\xEF\xBB\xBF" + QByteArray(header + row0 + row1).replace("\n", "\r\n").chopped(2) << QString() << twoTimes
            << twoValues << QByteArray("\1\3") << 0ll;
        QTest::newRow("columns reordered and quoted, CRLF, blank line, no rate column")
            << QByteArray("note,\"value_v\",\"utc_time\"\r\n\"a, \"\"quoted\"\" note\",\"3.70238248\",2026-12-07T09:15:02.481Z\r\n\r\n"
                          ",3.7023825E+00,2026-12-07 09:15:02.58100Z\r\n")
            << QString() << twoTimes << twoValues << QByteArray("\xFF\xFF") << 0ll;
        QTest::newRow("typed note, cut last row")
            << header + row0 + "checked the wiring here\n" + row1 + "2026-12-07T09:15:02.681Z,0.200,3.702"
            << QString() << twoTimes << twoValues << QByteArray("\1\3") << 2ll;
        QTest::newRow("rows that are no reports")
            << header + "2026-02-29T00:00:00.000Z,0,1,,,,\n2026-12-07T09:15:02.481Z,0,42.94967296,,,,\n"
                        "2026-12-07T09:15:02.481Z,0,-1,,,,\n2026-12-07T09:15:02.481Z,0,1,,,\n\"2026-12-07T09:15:02.481Z,0,1,,,,\n"
                        "2026-12-07T24:15:02.481Z,0,1,,,,\n"
                        + row0.left(25) + QByteArray(5000, '7') + row0.mid(25) + row0
            << QString() << QVector<qint64>{0} << QVector<uint>{370238248} << QByteArray("\1") << 7ll;
        QTest::newRow("rounded half up past the eighth decimal, out-of-table rate")
            << header + "2026-12-07T09:15:02.481Z,0,3.702382485,0xA1,AVDD,0x7,Kalman\n"
                        "2026-12-07T09:15:02.481Z,0,3.7023824849999999999999,0xA1,AVDD,ten,Kalman\n"
            << QString() << QVector<qint64>{0, 0} << QVector<uint>{370238249, 370238248} << QByteArray("\7\xFF") << 0ll;
        const auto none = [](const char *tag, const QByteArray &file, const QString &error) {
            QTest::newRow(tag) << file << error << QVector<qint64>{} << QVector<uint>{} << QByteArray() << 0ll;
        };
        none("header only", header, QString());
        none("not a recording", "time,value\n1,2\n", QStringLiteral("utc_time 和 value_v"));
        none("no value_v", "utc_time,value\n", QStringLiteral("没有 value_v 列"));
        none("first line too long to be names", QByteArray(5000, 'x') + "\n" + header + row0,
             QStringLiteral("不是记录文件：第一行不是列名"));
        none("unpaired quote in the names", "utc_time,\"value_v\n" + row0, QStringLiteral("不是记录文件：第一行的引号不成对"));
        none("empty", QByteArray(), QStringLiteral("文件是空的"));
    }

    void variations()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QFETCH(QVector<qint64>, times);
        QFETCH(QVector<uint>, values);
        QFETCH(QByteArray, codes);
        const QString path = m_dir.filePath(QStringLiteral("variation.csv"));
        write(path, file);

        // From the file in its large blocks, and from memory in blocks of 3
        // bytes, so every line is cut somewhere: the same either way.
        RecordingReader fromFile, inPieces;
        QCOMPARE(fromFile.readFile(path), error.isEmpty());
        QCOMPARE(inPieces.readBytes(file.constData(), file.size(), 3), error.isEmpty());
        const QString shown = readerFailureText(fromFile.failure());
        QVERIFY2(shown.contains(error), qPrintable(shown));
        QVERIFY(inPieces.failure() == fromFile.failure());
        if (!error.isEmpty())
            return;
        QTEST(fromFile.skippedLines(), "skipped");
        QTEST(inPieces.skippedLines(), "skipped");
        for (const auto &history : {fromFile.takeHistory(), inPieces.takeHistory()}) {
            QCOMPARE(history->size(), qint64(values.size()));
            for (int i = 0; i < values.size(); ++i) {
                QCOMPARE(history->timeAt(i) - T0, times[i]);
                QCOMPARE(history->valueAt(i), values[i]);
                QCOMPARE(history->rateCodeAt(i), uint8_t(codes[i]));
            }
        }
    }

    void refusesTooManyRows()
    {
        // Blank lines cost the reader nothing, but a file with more lines than
        // the history may hold is refused before any memory is taken for it.
        const QByteArray file = CsvRecorder::Header + QByteArray(RecordingReader::MaxRows + 1, '\n');
        RecordingReader reader;
        QVERIFY(!reader.readBytes(file.constData(), file.size()));
        const QString shown = readerFailureText(reader.failure());
        QVERIFY2(shown.contains(QLatin1String("100000000")), qPrintable(shown));
        QVERIFY(!reader.takeHistory());
    }

    void summary()
    {
        QVERIFY2(!m_recorded.isEmpty(), "roundTrip writes the recording");
        // No display of any kind: making a QApplication here would abort.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        const auto run = [&env](const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(QStringLiteral(ORVALE_QV), arguments);
            if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
                return -1;
            if (out)
                *out = process.readAllStandardOutput();
            const QByteArray why = process.readAllStandardError();
            if (err)
                *err = why;
            if (process.exitCode() != 0 && why.isEmpty())
                return -2;  // a failure must say why
            return process.exitCode();
        };

        QByteArray out;
        QCOMPARE(run({QStringLiteral("--summary"), m_recorded}, &out), 0);
        QJsonParseError parseError{};
        QJsonObject json = QJsonDocument::fromJson(out, &parseError).object();
        QVERIFY2(parseError.error == QJsonParseError::NoError, out.constData());
        QCOMPARE(json.value(QLatin1String("file")).toString(), QStringLiteral("night.csv"));
        QCOMPARE(json.value(QLatin1String("reports")).toInt(), 3000);
        QCOMPARE(json.value(QLatin1String("skipped")).toInt(), 0);
        QCOMPARE(json.value(QLatin1String("first_utc")).toString(), QStringLiteral("2026-12-07T09:15:02.481Z"));
        QCOMPARE(json.value(QLatin1String("last_utc")).toString(), QStringLiteral("2031-01-01T00:01:40.399Z"));
        // The shortest text of a double reads back as the same double.
        QCOMPARE(json.value(QLatin1String("mean_v")).toDouble(), m_live.mean);
        QCOMPARE(json.value(QLatin1String("max_v")).toDouble(), 42.94967295);
        QCOMPARE(json.value(QLatin1String("rms_uv")).toDouble(), m_live.rmsMicrovolts);
        QCOMPARE(json.value(QLatin1String("effective_bits")).toDouble(), analysis::resolutionBits(5, m_live.rmsMicrovolts));
        QCOMPARE(json.value(QLatin1String("noise_free_bits")).toDouble(),
                 analysis::resolutionBits(5, m_live.peakToPeakMicrovolts));
        for (const char *key : {"rate_per_s", "min_v", "peak_to_peak_uv", "drift_uv_per_min"})
            QVERIFY2(json.contains(QLatin1String(key)), key);

        QCOMPARE(run({QStringLiteral("--summary"), m_recorded, QStringLiteral("--span"), QStringLiteral("60"),
                      QStringLiteral("--full-scale"), QStringLiteral("2.5")}, &out), 0);
        json = QJsonDocument::fromJson(out).object();
        QCOMPARE(json.value(QLatin1String("reports")).toInt(), int(m_liveLastMinute.count));
        QCOMPARE(json.value(QLatin1String("rms_uv")).toDouble(), m_liveLastMinute.rmsMicrovolts);
        QCOMPARE(json.value(QLatin1String("effective_bits")).toDouble(),
                 analysis::resolutionBits(2.5, m_liveLastMinute.rmsMicrovolts));

        // Files it cannot take: the reason in the command line's English, not
        // in the window's Chinese.
        const QString notRecording = m_dir.filePath(QStringLiteral("notes.csv"));
        write(notRecording, "time,value\n");
        const QString missing = m_dir.filePath(QStringLiteral("missing.csv"));
        const QStringList refused[] = {
            {notRecording, QStringLiteral("not a recording: the first line has no utc_time and value_v columns")},
            {m_dir.path(), QStringLiteral("is a directory")},
            {missing, QStringLiteral("No such file or directory")},
        };
        for (const QStringList &file : refused) {
            QByteArray err;
            QCOMPARE(run({QStringLiteral("--summary"), file[0]}, nullptr, &err), 1);
            QCOMPARE(QString::fromUtf8(err), QStringLiteral("orvale-qv: %1: %2\n").arg(file[0], file[1]));
        }
        // A refused command line's status 2 is tst_unattended's, and "-summary"
        // read as "--summary" tst_line's.
        QCOMPARE(run({QStringLiteral("--help")}, &out), 0);
        QVERIFY(out.contains("--summary"));
    }

    void window()
    {
        QVERIFY2(!m_recorded.isEmpty(), "roundTrip writes the recording");
        MainWindow main;
        main.show();
        main.openRecording({m_recorded});
        QPointer<RecordingWindow> first = main.findChild<RecordingWindow *>(QStringLiteral("recordingWindow"));
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("趋势图 — night.csv"));
        main.openRecording({m_recorded});  // several at once, each its own history
        QCOMPARE(main.findChildren<RecordingWindow *>().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!first->isLoading(), 30000);
        QCOMPARE(first->findChild<QLabel *>(QStringLiteral("recordingSkipped"))->text(), QStringLiteral("跳过 0 行"));

        compareWithLive(first);
        if (QTest::currentTestFailed())
            return;

        // Closing one frees it; the other stays. One closed while it still
        // reads leaves its worker to stop on its own.
        first->close();
        QTRY_VERIFY(!first);
        main.openRecording({m_recorded});
        main.findChildren<RecordingWindow *>().constLast()->close();
        QTRY_COMPARE(main.findChildren<RecordingWindow *>().size(), 1);

        // A file that is no recording opens no window and says why.
        const QString notRecording = m_dir.filePath(QStringLiteral("notes.csv"));
        write(notRecording, "time,value\n");
        main.openRecording({notRecording});
        QCOMPARE(main.findChildren<RecordingWindow *>().size(), 1);
        QCOMPARE(main.statusBar()->currentMessage(),
                 QStringLiteral("打开记录失败：不是记录文件：第一行没有 utc_time 和 value_v 列"));
    }

private:
    // Every figure of `recording` equals the one a trend window over the
    // reports received live shows.
    void compareWithLive(RecordingWindow *recording)
    {
        TrendWindow live(&m_liveHistory);
        auto *span = live.findChild<QComboBox *>(QStringLiteral("trendSpan"));
        span->setCurrentIndex(span->count() - 1);
        live.show();
        const QList<QLabel *> figures = live.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^stat[A-Z]")));
        QVERIFY(figures.size() >= 10);
        for (QLabel *figure : figures) {
            QVERIFY2(figure->text() != QLatin1String("-") || figure->objectName() == QLatin1String("statDrift"),
                     qPrintable(figure->objectName()));
            QCOMPARE(recording->findChild<QLabel *>(figure->objectName())->text(), figure->text());
        }
    }

private slots:
    // The logger's rotated files, some compressed, chosen at once: shown as the
    // one recording they were cut from.
    void windowOfSeveralFiles()
    {
        QVERIFY2(!m_recorded.isEmpty(), "roundTrip writes the recording");
        QFile plain(m_recorded);
        QVERIFY(plain.open(QIODevice::ReadOnly));
        const QByteArray whole = plain.readAll();
        const auto compress = [](const QByteArray &bytes) {
            QByteArray out(int(ZSTD_compressBound(size_t(bytes.size()))), Qt::Uninitialized);
            const size_t n = ZSTD_compress(out.data(), size_t(out.size()), bytes.constData(), size_t(bytes.size()), 3);
            out.truncate(ZSTD_isError(n) ? 0 : int(n));
            return out;
        };
        // Cut after 1700 rows, with the header in both, as the logger rotates;
        // the later part compressed, and chosen first.
        int cut = 0;
        for (int line = 0; line <= 1700; ++line)
            cut = whole.indexOf('\n', cut) + 1;
        const QByteArray header = whole.left(whole.indexOf('\n') + 1);
        const QString early = m_dir.filePath(QStringLiteral("early.csv"));
        const QString late = m_dir.filePath(QStringLiteral("late.csv.zst"));
        write(early, whole.left(cut));
        write(late, compress(header + whole.mid(cut)));
        // A power cut just after the logger made its next file leaves it empty.
        const QString empty = m_dir.filePath(QStringLiteral("empty.csv"));
        write(empty, QByteArray());

        MainWindow main;
        main.show();
        main.openRecording({late, empty, early});
        auto *window = main.findChild<RecordingWindow *>(QStringLiteral("recordingWindow"));
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("趋势图 — late.csv.zst 等 3 个文件"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->isLoading(), 30000);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("recordingSkipped"))->text(), QStringLiteral("跳过 0 行"));
        compareWithLive(window);
        if (QTest::currentTestFailed())
            return;
        window->close();
        QTRY_VERIFY(main.findChildren<RecordingWindow *>().isEmpty());

        // One file among several that is no recording: no window, and the
        // message names it.
        const QString notRecording = m_dir.filePath(QStringLiteral("notes.csv"));
        write(notRecording, "time,value\n");
        main.openRecording({early, notRecording});
        QVERIFY(main.findChildren<RecordingWindow *>().isEmpty());
        QCOMPARE(main.statusBar()->currentMessage(),
                 QStringLiteral("打开记录失败：notes.csv：不是记录文件：第一行没有 utc_time 和 value_v 列"));
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"

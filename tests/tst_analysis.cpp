// SPDX-License-Identifier: GPL-3.0-or-later
// The analyses of a span and the history's statistics under them, on series
// whose answers are known: a few codes, white noise, a spike, a tone, a ramp;
// and the CSV files they are exported as.

#include "analysiscsv.h"
#include "csvrecorder.h"
#include "recordingreader.h"
#include "reporthistory.h"
#include "spananalysis.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numeric>
#include <random>

using namespace orvale::analysis;

static constexpr uint32_t Base = 370000000;  // 3.7 V

class TestAnalysis : public QObject
{
    Q_OBJECT

private slots:
    // Catches: a file that grows while several are read (the logger's
    // current one) read further in the second pass than counted in the
    // first, its new rows then counted as skipped lines.
    void filesReadAsTheyWereAtTheStart()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.csv")), b = dir.filePath(QStringLiteral("b.csv"));
        const auto write = [](const QString &path, qint64 t, QIODevice::OpenMode mode) {
            QFile file(path);
            QVERIFY(file.open(mode));
            if (!(mode & QIODevice::Append))
                file.write("utc_time,value_v\n");
            for (int i = 0; i < 3; ++i)
                file.write(QDateTime::fromMSecsSinceEpoch(t + i, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1() + ",1.5\n");
        };
        write(a, 1000, QIODevice::WriteOnly);
        write(b, 2000, QIODevice::WriteOnly);
        RecordingReader reader;
        int calls = 0;
        // After both files are counted, rows come on to the second.
        reader.setProgressHandler([&](qint64, qint64) {
            if (++calls == 2)
                write(b, 3000, QIODevice::Append);
        });
        QVERIFY(reader.readFiles({b, a}));
        QCOMPARE(reader.skippedLines(), 0);
        const std::unique_ptr<ReportHistory> history = reader.takeHistory();
        QCOMPARE(history->size(), 6);
        QCOMPARE(history->timeAt(history->firstIndex()), 1000);
    }

    // Catches: a row's time text made once a second going stale across a
    // second, a day or the epoch, or its milliseconds written unpadded.
    void rowTimeText()
    {
        const COMM_UART_OBJ report = {};
        for (const qint64 ms : {qint64(1700000000999), qint64(1700000001000), qint64(1700000001007),
                                qint64(1700000001070), qint64(1700006399999), qint64(1700006400000), qint64(-1),
                                qint64(-1000), qint64(-1001), qint64(0)}) {
            QByteArray row;
            CsvRecorder::appendRow(row, ms, 0, report);
            const QString full = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
            QCOMPARE(QString::fromLatin1(row.left(row.indexOf(','))), full);
        }
    }

    void histogram()
    {
        // Whole counts a bin from the minimum, the maximum inside the last.
        const Histogram few = orvale::analysis::histogram(SpanData{{Base + 3, Base, Base + 3, Base + 1, Base, Base + 3}});
        QCOMPARE(few.lowCounts, qint64(Base));
        QCOMPARE(few.binWidthCounts, qint64(1));
        QCOMPARE(few.counts, (QVector<qint64>{2, 1, 0, 3}));
        QCOMPARE(few.meanVolts, (Base + 10 / 6.0) * 1e-8);
        QCOMPARE(few.rmsVolts, std::sqrt(17 / 9.0) * 1e-8);  // population σ: the sample one is √(6/5) more
        // 100 codes fit 100 bins, 101 do not: two codes a bin.
        QCOMPARE(orvale::analysis::histogram(SpanData{{Base + 99, Base}}).counts.size(), 100);
        const Histogram wide = orvale::analysis::histogram(SpanData{{Base + 100, Base, Base + 51}});
        QCOMPARE(wide.binWidthCounts, qint64(2));
        QCOMPARE(wide.counts.size(), 51);
        QCOMPARE(wide.counts[25] + wide.counts.back(), qint64(2));
    }

    void whiteNoise()
    {
        // Uniform noise of ±1000 counts, from a generator whose output the
        // standard fixes: σ = √(1000·1001/3) counts.
        std::mt19937 random(19);
        std::vector<uint32_t> values(65536);
        for (uint32_t &v : values)
            v = uint32_t(Base + random() % 2001 - 1000);
        const SpanData span{values, 0, 2};  // 62 Sa/s
        const double sigma = std::sqrt(1000.0 * 1001.0 / 3.0) * 0.01;  // µV

        // σ·√(2/fs) µV/√Hz at every frequency: the mean power of the bins to 2 %.
        const Spectrum s = noiseSpectrum(span);
        QCOMPARE(s.frequencyHz.front(), 62.0 / 8192);
        QCOMPARE(s.frequencyHz.back(), 31.0);
        double power = 0;
        for (const double d : s.densityUvPerSqrtHz)
            power += d * d / s.densityUvPerSqrtHz.size();
        QVERIFY2(qAbs(power / (sigma * sigma * 2 / 62) - 1) < 0.02, qPrintable(QString::number(power)));

        // σ at τ = 1/fs, then falling as 1/√m, for m up to n/4.
        const AllanDeviation a = allanDeviation(span);
        QCOMPARE(a.tauSeconds.size(), 15);
        QCOMPARE(a.tauSeconds.front(), 1 / 62.0);
        QVERIFY2(qAbs(a.adevMicrovolts[0] / sigma - 1) < 0.02, qPrintable(QString::number(a.adevMicrovolts[0])));
        const double slope = std::log(a.adevMicrovolts[4] / a.adevMicrovolts[0]) / std::log(16.0);
        QVERIFY2(qAbs(slope + 0.5) < 0.02, qPrintable(QString::number(slope)));
    }

    void allanOverlaps()
    {
        // A spike: at m = 2 the overlapping differences (-4, -4, 0, 0, 0) give
        // 32 / (2·2²·5), the non-overlapping ones (-4, 0, 0) 16 / (2·2²·3).
        const AllanDeviation a = allanDeviation(SpanData{{Base, Base + 4, Base, Base, Base, Base, Base, Base}});
        QCOMPARE(a.tauSeconds, (QVector<double>{0.25, 0.5}));
        QCOMPARE(a.adevMicrovolts, (QVector<double>{std::sqrt(32.0 / 14) * 0.01, std::sqrt(0.8) * 0.01}));
        QCOMPARE(a.terms, (QVector<qint64>{7, 5}));
    }

    void toneAtTheBoardsRate()
    {
        // 5 Hz sampled at 62 Sa/s after 40 reports at 10 Sa/s, all arriving
        // every 20 ms as if at 50/s: the peak must be at 5 Hz, not 4.
        ReportHistory history;
        std::vector<uint32_t> tone;
        for (int i = 0; i < 40 + 4096; ++i) {
            tone.push_back(i < 40 ? Base : uint32_t(Base + std::lround(1000 * std::sin(2 * 3.14159265358979 * 5 * i / 62))));
            history.append(1'700'000'000'000 + i * 20, tone.back(), i < 40 ? 1 : 2);
        }
        SpanData span = copySpan(history, 3, history.endIndex());  // off a block's edge
        QVERIFY(span.values == std::vector<uint32_t>(tone.begin() + 3, tone.end()));
        const Spectrum s = noiseSpectrum(span);
        QVERIFY(s.rate.mixedRates && s.rate.fromCode);
        QCOMPARE(s.rate.begin, qint64(37));
        const auto peak = std::max_element(s.densityUvPerSqrtHz.begin(), s.densityUvPerSqrtHz.end());
        const double peakHz = s.frequencyHz[int(peak - s.densityUvPerSqrtHz.begin())];
        QVERIFY2(qAbs(peakHz - 5) < 62.0 / s.segmentLength, qPrintable(QString::number(peakHz)));

        // A code outside the table: the run's arrival rate, over n - 1 intervals.
        span.newestRunCode = 7;
        QCOMPARE(chooseRate(span).sampleRate, 50.0);
        QVERIFY(!chooseRate(span).fromCode);
        span.newestRunBegin = qint64(span.values.size()) - 127;
        QCOMPARE(noiseSpectrum(span).problem.code, AnalysisProblem::TooFewReports);
        QCOMPARE(noiseSpectrum(span).problem.reportsNeeded, qint64(128));
        span.newestRunBegin -= 1;
        QCOMPARE(noiseSpectrum(span).segments, 3);
    }

    void rampAndHistory()
    {
        // A count up a report every 100 ms (6 µV/min), with a peak and a dip
        // inside each block, where the block's last report is neither.
        ReportHistory history;
        for (int i = 0; i < 1024; ++i)
            history.append(1'700'000'000'000 + i * 100, Base + i + (i % 256 == 100 ? 500 : i % 256 == 150 ? -500 : 0));
        QCOMPARE(history.statistics(0, 1024).maxCounts, Base + 768 + 100 + 500);
        QCOMPARE(history.statistics(0, 1024).minCounts, Base + 150 - 500);
        QCOMPARE(history.statistics(160, 356).driftMicrovoltsPerMinute, 6.0);
        const SpanStatistics two = history.statistics(1, 3);  // σ 0.5 count, √2 times that for the sample σ
        QCOMPARE(two.rmsMicrovolts, 0.005);
        QCOMPARE(two.ratePerSecond, 10.0);
        QVERIFY(std::isnan(history.statistics(5, 6).driftMicrovoltsPerMinute));

        // The Allan deviation of a ramp rises as τ: m/√2 counts.
        std::vector<uint32_t> values(4096);
        std::iota(values.begin(), values.end(), Base);
        const AllanDeviation a = allanDeviation(SpanData{values, 0, 3});
        for (int k = 0; k < a.adevMicrovolts.size(); ++k)
            QCOMPARE(a.adevMicrovolts[k], std::ldexp(0.01 / std::sqrt(2.0), k));
    }

    // Faults: figures cut to the six a plain number gives (a density of
    // 1.2345679 read back as 1.23457), a τ short of its terms written as
    // garbage, an edge's ten decimals lost near the top of the range.
    void csvFormats()
    {
        Spectrum s;
        s.frequencyHz = {0.0048828125, 5.0};
        s.densityUvPerSqrtHz = {1.23456789012, 0.000123456789};
        QCOMPARE(spectrumCsv(s), QByteArray("frequency_hz,density_uv_per_sqrt_hz\n"
                                            "0.0048828125,1.2345679\n"
                                            "5,0.00012345679\n"));
        AllanDeviation a;
        a.tauSeconds = {0.1, 102.4};
        a.adevMicrovolts = {3.14159265358, 0.002};
        a.terms = {4095};
        QCOMPARE(allanCsv(a), QByteArray("tau_s,adev_uv,terms\n0.1,3.1415927,4095\n102.4,0.002,0\n"));
        Histogram h;
        h.lowCounts = 4294967294;
        h.binWidthCounts = 1;
        h.counts = {1, 0};
        QCOMPARE(histogramCsv(h), QByteArray("bin_low_v,bin_high_v,count\n"
                                             "42.9496729400,42.9496729500,1\n"
                                             "42.9496729500,42.9496729600,0\n"));
    }
};

QTEST_GUILESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"

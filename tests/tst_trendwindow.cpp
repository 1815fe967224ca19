// SPDX-License-Identifier: GPL-3.0-or-later
// The trend window over histories built in the test: its figures, the pages
// and when they compute, the cursors, the exports, and analyses of long
// spans on a worker thread.

#include "analysiscsv.h"
#include "reporthistory.h"
#include "spananalysis.h"
#include "trendview.h"
#include "trendwindow.h"

#include "qcustomplot.h"

#include "privatesettings.h"
#include "windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <functional>

namespace {

// Reports every `stepMs` from t = 1000 s, at rate code 1 (10 Sa/s).
void fill(ReportHistory &h, qint64 n, const std::function<uint32_t(qint64)> &value, qint64 stepMs = 100)
{
    for (qint64 i = 0; i < n; ++i)
        h.append(1000000 + i * stepMs, value(i), 1);
}

// 3.7 V with +-5 uV: rms 5.00 uV, peak-to-peak 10.00 uV.
uint32_t alternating(qint64 i) { return i % 2 ? 370000500u : 369999500u; }

// Uniform noise of +-5 uV from a fixed generator.
uint32_t noise(qint64 i) { return 369999500u + uint32_t((uint64_t(i) * 2654435761u >> 7) % 1001); }

// The plot's own handlers see these as from the mouse (QTest moves the
// pointer instead, which reaches no widget offscreen).
void mouse(QWidget *w, QEvent::Type type, double x, int y)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(x, y), QPointF(w->mapToGlobal(QPoint(int(x), y))), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class TestTrendWindow : public QObject
{
    Q_OBJECT

    void showPage(TrendWindow &w, TrendView::Page page) { child<QTabWidget>(w, "analysisTabs")->setCurrentIndex(page); }

private slots:
    void initTestCase()
    {
        QVERIFY(usePrivateSettings());
        QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
        QCoreApplication::setApplicationName(QStringLiteral("orvale-qv"));
    }
    void figures_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("kind");  // 0 alternating, 1 constant, 2 ramp of 1 count a report
        QTest::addColumn<QString>("effective");
        QTest::addColumn<QString>("noiseFree");
        QTest::addColumn<QString>("drift");

        // log2(5 V / 5 uV) and log2(5 V / 10 uV); the alternation's slope is
        // the least-squares one of -500, +500, -500, ...
        QTest::newRow("5 uV rms") << 1000 << 0 << "19.93 bit" << "18.93 bit" << "0.018 µV/min";
        QTest::newRow("no noise") << 1000 << 1 << "-" << "-" << "0.000 µV/min";
        // 0.01 uV every 100 ms.
        QTest::newRow("ramp") << 1000 << 2 << "20.72 bit" << "18.93 bit" << "6.000 µV/min";
        QTest::newRow("one report") << 1 << 0 << "-" << "-" << "-";
        QTest::newRow("empty") << 0 << 0 << "-" << "-" << "-";
    }

    // Faults: rms and peak-to-peak swapped, full scale not in volts, "inf bit"
    // or "nan µV/min" where "-" belongs, drift per second instead of per minute.
    void figures()
    {
        QFETCH(int, count);
        QFETCH(int, kind);
        ReportHistory history;
        fill(history, count, [kind](qint64 i) { return kind == 0 ? alternating(i) : kind == 1 ? 370000000u : uint32_t(370000000 + i); });
        TrendWindow window(&history);
        child<QComboBox>(window, "trendSpan")->setCurrentIndex(4);
        child<QDoubleSpinBox>(window, "fullScaleSpin")->setValue(5.0);
        window.show();
        QTEST(text(window, "statEffectiveBits"), "effective");
        QTEST(text(window, "statNoiseFreeBits"), "noiseFree");
        QTEST(text(window, "statDrift"), "drift");
    }

    // Fault: the full scale neither saved nor read back, or read before the
    // spin box's range (a saved 0.5 V clamped away).
    void fullScaleRemembered()
    {
        ReportHistory history;
        fill(history, 100, alternating);
        {
            TrendWindow window(&history);
            QCOMPARE(child<QDoubleSpinBox>(window, "fullScaleSpin")->value(), 5.0);
            child<QDoubleSpinBox>(window, "fullScaleSpin")->setValue(0.625);
        }
        TrendWindow again(&history);
        again.show();
        QCOMPARE(child<QDoubleSpinBox>(again, "fullScaleSpin")->value(), 0.625);
        QCOMPARE(text(again, "statEffectiveBits"), QStringLiteral("16.93 bit"));  // log2(0.625 V / 5 uV)
        QSettings().clear();
    }

    // Faults: every page worked out at each refresh, or while the window is hidden.
    void pagesComputeOnlyWhileShown()
    {
        ReportHistory history;
        fill(history, 2000, alternating);
        TrendWindow window(&history);
        child<QComboBox>(window, "trendSpan")->setCurrentIndex(4);
        window.show();
        for (const char *info : {"histogramInfo", "spectrumInfo", "allanInfo"})
            QCOMPARE(text(window, info), QString());

        showPage(window, TrendView::HistogramPage);
        QVERIFY(text(window, "histogramInfo").contains(QStringLiteral("2000 条报告")));
        QCOMPARE(text(window, "spectrumInfo"), QString());

        window.hide();
        showPage(window, TrendView::SpectrumPage);
        window.view().refresh();
        QCOMPARE(text(window, "spectrumInfo"), QString());
        window.show();
        QVERIFY(text(window, "spectrumInfo").contains(QStringLiteral("采样率 10 Sa/s")));
        QCOMPARE(text(window, "allanInfo"), QString());
    }

    // Faults: cursors that do not narrow the figures, a drag that does not move
    // them, a pause that drops them, a new span choice that keeps them.
    void cursors()
    {
        // 60 s at 10/s: 3.7 V for the first 30 s, 3.7 V + 1 mV after.
        ReportHistory history;
        fill(history, 600, [](qint64 i) { return i < 300 ? 370000000u : 370100000u; });
        TrendWindow window(&history);
        child<QComboBox>(window, "trendSpan")->setCurrentIndex(4);
        window.resize(900, 640);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(text(window, "statCount"), QStringLiteral("600 条"));

        window.view().setCursors(1010.0, 1019.95);  // reports 100 to 199
        QCOMPARE(text(window, "statCount"), QStringLiteral("100 条"));
        QCOMPARE(text(window, "statMean"), QStringLiteral("3.70000000 V"));
        QCOMPARE(text(window, "cursorInterval"), QStringLiteral("9.950 s"));
        QVERIFY(child<QPushButton>(window, "cursorButton")->isChecked());

        // Drag the second cursor into the upper level with the mouse.
        auto *plot = child<QCustomPlot>(window, "trendPlot");
        const int y = plot->axisRect()->center().y();
        mouse(plot, QEvent::MouseButtonPress, plot->xAxis->coordToPixel(1019.95) + 3, y);
        mouse(plot, QEvent::MouseMove, plot->xAxis->coordToPixel(1045.0), y);
        mouse(plot, QEvent::MouseButtonRelease, plot->xAxis->coordToPixel(1045.0), y);
        const double interval = text(window, "cursorInterval").section(' ', 0, 0).toDouble();
        QVERIFY2(qAbs(interval - 35.0) < 0.5, qPrintable(text(window, "cursorInterval")));
        const int count = text(window, "statCount").section(' ', 0, 0).toInt();
        QVERIFY2(qAbs(count - 350) <= 6, qPrintable(text(window, "statCount")));
        QVERIFY(text(window, "statMax").startsWith(QStringLiteral("3.701")));

        // The pages cover the same reports.
        showPage(window, TrendView::HistogramPage);
        QVERIFY(text(window, "histogramInfo").startsWith(QString::number(count) + QStringLiteral(" 条报告")));

        child<QCheckBox>(window, "trendPause")->setChecked(true);
        QVERIFY(window.view().hasCursors());
        QCOMPARE(text(window, "statCount"), QString::number(count) + QStringLiteral(" 条"));

        child<QComboBox>(window, "trendSpan")->setCurrentIndex(3);
        QVERIFY(!window.view().hasCursors());
        QVERIFY(!child<QPushButton>(window, "cursorButton")->isChecked());
        QCOMPARE(text(window, "cursorInterval"), QStringLiteral("-"));
        QCOMPARE(text(window, "statCount"), QStringLiteral("600 条"));
    }

    // Faults: edges rounded through a double (not contiguous, or a 9 where a 0
    // belongs), a row short or extra, a header that differs, a full disk not
    // noticed, something exported from a page that shows nothing.
    void exports()
    {
        // Codes 3 x 1.00000000 V, 1 x 1.00000001 V, 2 x 1.00000003 V: bins one count wide.
        ReportHistory history;
        const uint32_t codes[] = {100000000, 100000000, 100000001, 100000003, 100000000, 100000003};
        fill(history, 6, [&](qint64 i) { return codes[i]; });
        TrendWindow window(&history);
        child<QComboBox>(window, "trendSpan")->setCurrentIndex(4);
        window.show();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.csv"));

        QVERIFY(!window.view().exportCsv(TrendView::HistogramPage, path));  // not shown yet
        showPage(window, TrendView::HistogramPage);
        QVERIFY(window.view().exportCsv(TrendView::HistogramPage, path));
        QCOMPARE(fileLines(path), QStringList({"bin_low_v,bin_high_v,count", "1.0000000000,1.0000000100,3",
                                               "1.0000000100,1.0000000200,1", "1.0000000200,1.0000000300,0",
                                               "1.0000000300,1.0000000400,2", ""}));
        QVERIFY(!window.view().exportCsv(TrendView::HistogramPage, QStringLiteral("/dev/full")));
        QVERIFY(!window.view().exportCsv(TrendView::HistogramPage, dir.filePath(QStringLiteral("no/such/dir.csv"))));

        // Six reports: too few for a spectrum; the page says so and exports nothing.
        showPage(window, TrendView::SpectrumPage);
        QVERIFY2(text(window, "spectrumInfo").endsWith(QStringLiteral("；少于 128 条报告，无法计算噪声谱")),
                 qPrintable(text(window, "spectrumInfo")));
        QVERIFY(!window.view().exportCsv(TrendView::SpectrumPage, path));

        ReportHistory longer;
        fill(longer, 4096, noise);
        TrendWindow second(&longer);
        child<QComboBox>(second, "trendSpan")->setCurrentIndex(4);
        second.show();
        // Each page's own analysis of the span shown (its figures are tst_analysis's).
        const orvale::analysis::SpanData span = orvale::analysis::copySpan(longer, 0, longer.endIndex());
        for (const auto page : {TrendView::SpectrumPage, TrendView::AllanPage}) {
            showPage(second, page);
            QVERIFY(second.view().exportCsv(page, path));
            const QByteArray csv = page == TrendView::SpectrumPage ? spectrumCsv(noiseSpectrum(span))
                                                                    : allanCsv(allanDeviation(span));
            QCOMPARE(fileLines(path), QString::fromLatin1(csv).split('\n'));
        }
    }

    // Faults: a long span analysed on the GUI thread (the window waits), its
    // result not shown, a crash when the window goes with one in flight. One
    // analysis of a page at a time, the newest choice winning: tst_analysisscheduler.
    void largeSpanOnWorker()
    {
        ReportHistory history;
        fill(history, 3 * TrendView::LargeSpanReports, alternating);
        {
            TrendWindow window(&history);
            child<QComboBox>(window, "trendSpan")->setCurrentIndex(4);
            window.show();
            showPage(window, TrendView::SpectrumPage);
            QVERIFY(text(window, "spectrumInfo").startsWith(QStringLiteral("正在分析 300000 条报告")));
            QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(window, "spectrumExport")->isEnabled(), 20000);
            QVERIFY(text(window, "spectrumInfo").startsWith(QStringLiteral("采样率 10 Sa/s，300000 条报告")));

            showPage(window, TrendView::AllanPage);
            QVERIFY(text(window, "allanInfo").startsWith(QStringLiteral("正在分析")));
        }
        QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
    }
};

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"

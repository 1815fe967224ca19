// SPDX-License-Identifier: GPL-3.0-or-later
// Receive-path benchmark: the real window, opened on a pseudo-terminal the
// way an operator opens a port, fed by a separate process at a given report
// rate. Prints CPU, display lag, event-loop stalls and memory for the window
// as built, and for a reference run that inserts every read into the log in
// its own call; and the pixels the window paints a second, a measure of its
// painting that, unlike CPU time, does not depend on the host.

#include "cputime.h"
#include "feeder.h"
#include "logwriter.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "reporthistory.h"
#include "spananalysis.h"
#include "trendview.h"
#include "trendwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QRegion>
#include <QLCDNumber>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

struct Options
{
    double rate = 720;
    double durationS = 30;
    bool randomCuts = false;
    bool reference = true;
    bool coalesced = true;
    bool memoryTimeline = false;
    bool trend = false;   // trend window shown, span 1 minute
    bool analysis = false;  // trend window on a full history, span "全部", each page in turn
    QString recordPath;   // CSV recording into this file
    FeederPlan::Signal signal = FeederPlan::Signal::Clock;
};

// Counts the area of every paint event of one window's widgets: what the
// window repaints, whatever the host's CPU. In device pixels, so a
// high-density screen's figures are what its raster engine fills.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *window) : m_window(window) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }

    double devicePixels() const { return m_pixels; }
    // The widgets that painted most, by object name, with their share.
    std::vector<std::pair<double, QString>> largest(size_t n) const
    {
        std::vector<std::pair<double, QString>> all;
        for (const auto &w : m_byWidget)
            all.emplace_back(w.second, w.first);
        std::sort(all.rbegin(), all.rend());
        all.resize(std::min(n, all.size()));
        return all;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->window() == m_window) {
                double area = 0;
                for (const QRect &r : static_cast<QPaintEvent *>(event)->region())
                    area += double(r.width()) * double(r.height());
                const double ratio = widget->devicePixelRatioF();
                area *= ratio * ratio;
                m_pixels += area;
                m_byWidget[widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                                           : widget->objectName()] += area;
            }
        }
        return false;
    }

private:
    QWidget *m_window = nullptr;
    double m_pixels = 0;
    std::map<QString, double> m_byWidget;
};

struct RunFigures
{
    QString name;
    long sent = 0;
    double cpuPercent = 0;
    double lagMedianMs = 0, lagP99Ms = 0, lagMaxMs = 0;
    int lagSamples = 0;
    double stallMs = 0;
    double paintedMpxPerS = 0;
    std::vector<std::pair<double, QString>> paintedMost;  // Mpx/s, widget
    double rssStartMb = 0, rss10sMb = 0, rssEndMb = 0;
    double peakFirst10sMb = 0, peakAfter10sMb = 0;
    long recordedRows = -1;
    // With --analysis: the same figures for each page of the trend window.
    struct Page
    {
        double cpuPercent = 0, lagP99Ms = 0, stallMs = 0;
    };
    std::vector<Page> pages;
};

void usage()
{
    std::printf("usage: orvale-bench-receive [--rate N] [--duration S] [--chunks whole|random]\n"
                "                            [--only coalesced|reference] [--trend] [--analysis] [--record PATH]\n"
                "  --rate N        reports per second (default 720, the limit of a 115200 baud line)\n"
                "  --duration S    seconds per run (default 30)\n"
                "  --chunks        whole frames per write, or frames cut at random points (default whole)\n"
                "  --only          run just one of the two runs\n"
                "  --memory-timeline  print resident memory every second\n"
                "  --trend         show the trend window (span 1 minute) during the runs, and time\n"
                "                  the statistics over a full history\n"
                "  --analysis      fill the history to its bound, show the trend window on \"全部\" and each of\n"
                "                  its four pages for a fifth of each run, then close it for the last fifth;\n"
                "                  print the figures of each part, and time each page's analysis over the\n"
                "                  full history\n"
                "  --record PATH   record every report into PATH during each run\n"
                "  --signal clock|board|uniform-noise\n"
                "                  the reports' value: the time each is due, which gives the display's lag\n"
                "                  (default); the simulated board's battery (orvale-board-sim's default); or\n"
                "                  3.7 V with noise of up to 0.005 V (its --uniform-noise)\n"
                "The pixels painted are the areas of the paint events of the window's widgets, in device\n"
                "pixels (a logical pixel is ratio x ratio of them).\n");
}

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage();
            std::exit(0);
        } else if (!std::strcmp(arg, "--rate") && value) {
            o.rate = std::atof(value);
            ++i;
        } else if (!std::strcmp(arg, "--duration") && value) {
            o.durationS = std::atof(value);
            ++i;
        } else if (!std::strcmp(arg, "--chunks") && value) {
            if (std::strcmp(value, "whole") && std::strcmp(value, "random"))
                return false;
            o.randomCuts = !std::strcmp(value, "random");
            ++i;
        } else if (!std::strcmp(arg, "--trend")) {
            o.trend = true;
        } else if (!std::strcmp(arg, "--analysis")) {
            o.analysis = true;
        } else if (!std::strcmp(arg, "--record") && value) {
            o.recordPath = QString::fromLocal8Bit(value);
            ++i;
        } else if (!std::strcmp(arg, "--signal") && value) {
            if (!std::strcmp(value, "clock"))
                o.signal = FeederPlan::Signal::Clock;
            else if (!std::strcmp(value, "board"))
                o.signal = FeederPlan::Signal::Board;
            else if (!std::strcmp(value, "uniform-noise"))
                o.signal = FeederPlan::Signal::UniformNoise;
            else
                return false;
            ++i;
        } else if (!std::strcmp(arg, "--memory-timeline")) {
            o.memoryTimeline = true;
        } else if (!std::strcmp(arg, "--only") && value) {
            o.reference = !std::strcmp(value, "reference");
            o.coalesced = !std::strcmp(value, "coalesced");
            if (!o.reference && !o.coalesced)
                return false;
            ++i;
        } else {
            return false;
        }
    }
    return o.rate > 0 && o.durationS > 0;
}

double residentMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0;
    std::sort(sorted.begin(), sorted.end());
    const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

// Fills `history` to its bound with an hour of 720/s around `level` (uniform
// noise of +-5 uV), ending now, at the rate code the feeder sends, so the
// reports that arrive next continue one run of one rate.
void fillToBound(ReportHistory &history, uint32_t level)
{
    uint32_t noise = 1;
    const qint64 n = history.capacity();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 i = 0; i < n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        history.append(now - (n - i) * 1000 / 720, level - 500 + (noise >> 8) % 1001, 3);
    }
}

RunFigures runOnce(const QString &name, bool coalescing, Feeder &feeder, const Options &o, int64_t timeBaseUs)
{
    RunFigures figures;
    figures.name = name;

    MainWindow window;
    window.show();
    window.findChild<LogWriter *>()->setCoalescing(coalescing);
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("PortBox"));
    ports->addItem(feeder.portPath());
    ports->setCurrentIndex(ports->count() - 1);
    window.findChild<QComboBox *>(QStringLiteral("BaudBox"))->setCurrentText(QStringLiteral("115200"));
    auto *openButton = window.findChild<QPushButton *>(QStringLiteral("openButton"));
    if (o.analysis)
        fillToBound(window.history(), 370000000u);
    QTest::mouseClick(openButton, Qt::LeftButton);
    QTabWidget *pages = nullptr;
    if (o.trend || o.analysis)
        window.findChild<QAction *>(QStringLiteral("actionTrend"))->trigger();
    if (o.analysis) {
        window.findChild<QComboBox *>(QStringLiteral("trendSpan"))->setCurrentIndex(4);
        pages = window.findChild<QTabWidget *>(QStringLiteral("analysisTabs"));
        pages->setCurrentIndex(0);
    }
    if (!o.recordPath.isEmpty() && !window.startRecording(o.recordPath))
        std::fprintf(stderr, "cannot record into %s\n", qPrintable(o.recordPath));
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));

    QCoreApplication::processEvents();
    // The trend window's first drawing (fonts, layout) is not part of the
    // steady state the run measures.
    if (o.analysis)
        QTest::qWait(1000);
    figures.rssStartMb = residentMb();
    PaintCounter painted(&window);
    const double cpuStart = ownCpuSeconds();
    const int64_t startUs = monotonicUs();
    feeder.start();

    // With --analysis the run falls in one phase a page, and a last one with
    // the trend window closed: the same run's figures without it.
    const int phases = o.analysis ? TrendView::PageCount + 1 : 1;
    int phase = 0;
    std::vector<std::vector<double>> phaseLags(static_cast<size_t>(phases));
    std::vector<int64_t> phaseWorstGapUs(size_t(phases), 0);
    std::vector<double> phaseCpu(size_t(phases) + 1, 0), phaseWall(size_t(phases) + 1, 0);
    phaseCpu[0] = cpuStart;
    phaseWall[0] = double(startUs) / 1e6;

    // One short repeating timer samples the display and times the loop.
    std::vector<double> lags;
    lags.reserve(size_t(o.durationS * 120));
    int64_t lastTickUs = startUs;
    int64_t worstGapUs = 0;
    bool tookRss10 = false;
    int printedSecond = 0;
    const double periodUs = 1e6 / o.rate;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const int64_t now = monotonicUs();
        worstGapUs = std::max(worstGapUs, now - lastTickUs);
        phaseWorstGapUs[size_t(phase)] = std::max(phaseWorstGapUs[size_t(phase)], now - lastTickUs);
        lastTickUs = now;
        const double shownUs = lcd->value() * 1e8;
        const double sinceStartUs = double(now - startUs);
        if (o.signal == FeederPlan::Signal::Clock && shownUs > 0 && sinceStartUs < o.durationS * 1e6) {
            // Reports fall due every period after the one shown; the newest
            // one due by now is how far the display trails the line.
            const double nowUs = double(now - timeBaseUs);
            const double behind = std::max(0.0, nowUs - shownUs);
            lags.push_back(std::floor(behind / periodUs) * periodUs / 1000.0);
            phaseLags[size_t(phase)].push_back(lags.back());
        }
        if (phases > 1 && sinceStartUs >= double(phase + 1) * o.durationS * 1e6 / phases && phase + 1 < phases) {
            ++phase;
            phaseCpu[size_t(phase)] = ownCpuSeconds();
            phaseWall[size_t(phase)] = double(now) / 1e6;
            if (phase < TrendView::PageCount)
                pages->setCurrentIndex(phase);
            else
                window.findChild<TrendWindow *>()->close();
        }
        const int second = int((now - startUs) / 1000000);
        if (second > printedSecond) {
            printedSecond = second;
            const double rss = residentMb();
            double &peak = second <= 10 ? figures.peakFirst10sMb : figures.peakAfter10sMb;
            peak = std::max(peak, rss);
            if (o.memoryTimeline)
                std::printf("  %3d s: %.1f MB resident\n", second, rss);
        }
        if (!tookRss10 && now - startUs >= 10000000) {
            figures.rss10sMb = residentMb();
            tookRss10 = true;
        }
    });
    sampler.start(10);

    QEventLoop loop;
    QTimer::singleShot(int(o.durationS * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    sampler.stop();

    const double cpu = ownCpuSeconds() - cpuStart;
    const double wall = double(monotonicUs() - startUs) / 1e6;
    figures.paintedMpxPerS = painted.devicePixels() / wall / 1e6;
    for (const auto &w : painted.largest(4))
        figures.paintedMost.emplace_back(w.first / wall / 1e6, w.second);
    phaseCpu[size_t(phases)] = cpuStart + cpu;
    phaseWall[size_t(phases)] = double(monotonicUs()) / 1e6;
    if (o.analysis) {
        for (size_t p = 0; p < size_t(phases); ++p) {
            RunFigures::Page page;
            page.cpuPercent = 100.0 * (phaseCpu[p + 1] - phaseCpu[p]) / (phaseWall[p + 1] - phaseWall[p]);
            page.lagP99Ms = percentile(phaseLags[p], 0.99);
            page.stallMs = double(phaseWorstGapUs[p]) / 1000.0;
            figures.pages.push_back(page);
        }
    }
    figures.rssEndMb = residentMb();
    if (!tookRss10)
        figures.rss10sMb = figures.rssEndMb;
    // The reports still on their way are taken before the port closes, so
    // the recording can be held against every report sent.
    figures.sent = feeder.finish();
    QTest::qWait(500);
    if (openButton->text() != QStringLiteral("打开串口"))
        QTest::mouseClick(openButton, Qt::LeftButton);
    if (!o.recordPath.isEmpty()) {
        window.findChild<QAction *>(QStringLiteral("actionStopRecording"))->trigger();
        QFile csv(o.recordPath);
        if (csv.open(QIODevice::ReadOnly))
            figures.recordedRows = long(csv.readAll().count('\n')) - 1;
    }

    figures.cpuPercent = 100.0 * cpu / wall;
    figures.stallMs = double(worstGapUs) / 1000.0;
    figures.lagSamples = int(lags.size());
    figures.lagMedianMs = percentile(lags, 0.5);
    figures.lagP99Ms = percentile(lags, 0.99);
    figures.lagMaxMs = lags.empty() ? 0 : *std::max_element(lags.begin(), lags.end());
    return figures;
}

void print(const RunFigures &f, const Options &o)
{
    std::printf("\n[%s]\n", qPrintable(f.name));
    std::printf("reports sent: %ld (%.1f/s)\n", f.sent, double(f.sent) / o.durationS);
    std::printf("window CPU: %.1f%% of one core; painted %.3f million device pixels a second\n", f.cpuPercent,
                f.paintedMpxPerS);
    std::printf("  painted most:");
    for (const auto &w : f.paintedMost)
        std::printf(" %s %.3f", qPrintable(w.second), w.first);
    std::printf("\n");
    if (o.signal != FeederPlan::Signal::Clock)
        std::printf("display lag: not measured (the value is the board's signal, not the time)\n");
    else
        std::printf("display lag: median %.1f ms, p99 %.1f ms, max %.1f ms (%d samples)\n", f.lagMedianMs,
                    f.lagP99Ms, f.lagMaxMs, f.lagSamples);
    std::printf("longest event-loop stall: %.1f ms\n", f.stallMs);
    std::printf("resident memory: start %.1f MB, at 10 s %.1f MB, end %.1f MB (growth after 10 s %.2f MB)\n",
                f.rssStartMb, f.rss10sMb, f.rssEndMb, f.rssEndMb - f.rss10sMb);
    std::printf("resident memory peaks (sampled each second): first 10 s %.1f MB, after 10 s %.1f MB\n",
                f.peakFirst10sMb, f.peakAfter10sMb);
    if (f.recordedRows >= 0)
        std::printf("CSV rows recorded: %ld of %ld reports sent\n", f.recordedRows, f.sent);
    static const char *const pageNames[] = {"page 趋势", "page 直方图", "page 噪声谱", "page 阿伦偏差",
                                            "trend window closed"};
    for (size_t p = 0; p < f.pages.size(); ++p)
        std::printf("  %s (%.0f s, full history): CPU %.1f%% of one core, lag p99 %.1f ms, longest stall %.1f ms\n",
                    pageNames[p], o.durationS / double(f.pages.size()), f.pages[p].cpuPercent, f.pages[p].lagP99Ms,
                    f.pages[p].stallMs);
    std::fflush(stdout);
}

QString cpuModel()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : cpuinfo.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QStringLiteral("unknown");
}

double medianOf(std::vector<double> v)
{
    return percentile(std::move(v), 0.5);
}

// Each page's work over a full history, as the window does it: the copy of
// the span on the GUI thread, the analysis on a worker.
void timeAnalyses()
{
    using namespace orvale::analysis;
    ReportHistory history;
    fillToBound(history, 370000000u);
    constexpr int rounds = 5;
    std::vector<double> roomMs, copyMs, histogramMs, spectrumMs, allanMs;
    double sink = 0;
    const double rssBefore = residentMb();
    double rssPeak = rssBefore;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        // The window makes the room on a worker and copies into it on the
        // GUI thread, so the copy touches no fresh pages.
        SpanData span;
        span.values.resize(size_t(history.size() + history.size() / 8 + 4096));
        roomMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        copySpan(history, history.firstIndex(), history.endIndex(), span);
        copyMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        sink += double(histogram(span).total);
        histogramMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        sink += noiseSpectrum(span).densityUvPerSqrtHz.value(1);
        spectrumMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        rssPeak = std::max(rssPeak, residentMb());
        timer.restart();
        sink += allanDeviation(span).adevMicrovolts.value(0);
        allanMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        rssPeak = std::max(rssPeak, residentMb());
    }
    std::printf("\n[each page's analysis over the full history: %lld reports, median of %d]\n",
                static_cast<long long>(history.size()), rounds);
    std::printf("room for the copy (worker) %.1f ms, copy of the span into it (GUI thread) %.1f ms\n",
                medianOf(roomMs), medianOf(copyMs));
    std::printf("histogram %.1f ms, noise spectrum %.1f ms, Allan deviation %.1f ms (worker thread; checksum %.0f)\n",
                medianOf(histogramMs), medianOf(spectrumMs), medianOf(allanMs), sink > 0 ? 1.0 : 0.0);
    std::printf("resident memory: %.1f MB before, %.1f MB at most during, %.1f MB after\n", rssBefore, rssPeak,
                residentMb());
    std::fflush(stdout);
}

// The statistics and the plot's points over a history filled to its bound,
// as one refresh of the trend window computes them.
void timeFullHistory()
{
    ReportHistory history;
    uint32_t noise = 1;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (qint64 i = 0; i < history.capacity(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        history.append(t0 + i * 1000 / 720, 370000000u + (noise >> 23));
    }
    const double bytesPerReport = double(history.bytesUsed()) / double(history.size());
    constexpr int rounds = 200;
    QElapsedTimer timer;
    timer.start();
    double sink = 0;
    for (int r = 0; r < rounds; ++r)
        sink += history.statistics(history.firstIndex() + r, history.endIndex()).rmsMicrovolts;
    const double allUs = double(timer.nsecsElapsed()) / 1000.0 / rounds;
    const qint64 minuteBegin = history.lowerBound(history.timeAt(history.endIndex() - 1) - 60000);
    timer.restart();
    for (int r = 0; r < rounds; ++r)
        sink += history.statistics(minuteBegin - r, history.endIndex()).rmsMicrovolts;
    const double minuteUs = double(timer.nsecsElapsed()) / 1000.0 / rounds;
    QVector<double> keys, values;
    timer.restart();
    for (int r = 0; r < 20; ++r)
        history.envelope(history.firstIndex() + r, history.endIndex(), 2400, keys, values);
    const double envelopeAllUs = double(timer.nsecsElapsed()) / 1000.0 / 20;
    timer.restart();
    for (int r = 0; r < 20; ++r)
        history.envelope(minuteBegin - r, history.endIndex(), 2400, keys, values);
    const double envelopeMinuteUs = double(timer.nsecsElapsed()) / 1000.0 / 20;
    std::printf("\n[history filled to its bound: %lld reports, %.2f bytes each, %.1f MB]\n",
                static_cast<long long>(history.size()), bytesPerReport, double(history.bytesUsed()) / 1048576.0);
    std::printf("statistics: whole history %.1f us, last minute %.1f us; plot points: whole history %.1f us, "
                "last minute %.1f us (checksum %.0f)\n",
                allUs, minuteUs, envelopeAllUs, envelopeMinuteUs, sink > 0 ? 1.0 : 0.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // As the program does (main.cpp), so the figures are those of the program.
    preparePainting(argv);
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return 2;
    }

    // The feeders are forked before the application object starts threads.
    const int64_t timeBaseUs = monotonicUs();
    FeederPlan plan;
    plan.rate = o.rate;
    plan.durationS = o.durationS;
    plan.randomCuts = o.randomCuts;
    plan.signal = o.signal;
    Feeder coalescedFeeder, referenceFeeder;
    if ((o.coalesced && !coalescedFeeder.spawn(plan, timeBaseUs))
        || (o.reference && !referenceFeeder.spawn(plan, timeBaseUs))) {
        std::fprintf(stderr, "cannot open a pseudo-terminal or start the feeder\n");
        return 1;
    }

    QApplication app(argc, argv);
    std::printf("orvale-bench-receive: %.0f reports/s for %.0f s, %s, platform %s, %ld cores\n", o.rate,
                o.durationS, o.randomCuts ? "frames cut at random points" : "whole frames per write",
                qPrintable(QGuiApplication::platformName()), sysconf(_SC_NPROCESSORS_ONLN));
    static const char *const signalNames[] = {"the time each report is due", "the simulated board's battery",
                                              "3.7 V with uniform noise of up to 0.005 V"};
    std::printf("value: %s; CPU %s\n", signalNames[int(o.signal)], qPrintable(cpuModel()));
    std::printf("trend window %s, recording %s\n",
                o.analysis ? "shown on a full history, each page in turn" : o.trend ? "shown" : "not shown",
                o.recordPath.isEmpty() ? "off" : qPrintable(o.recordPath));

    RunFigures coalesced, reference;
    if (o.coalesced) {
        coalesced = runOnce(QStringLiteral("window as built (coalesced log)"), true, coalescedFeeder, o, timeBaseUs);
        print(coalesced, o);
    }
    if (o.reference) {
        reference = runOnce(QStringLiteral("reference: every read inserted in its own call"), false, referenceFeeder,
                            o, timeBaseUs);
        print(reference, o);
    }
    if (o.coalesced && o.reference && coalesced.cpuPercent > 0)
        std::printf("\nCPU ratio reference / as built: %.1f\n", reference.cpuPercent / coalesced.cpuPercent);
    // After the runs, so their memory figures do not carry the full history.
    if (o.trend)
        timeFullHistory();
    if (o.analysis)
        timeAnalyses();
    return 0;
}

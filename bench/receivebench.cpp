// SPDX-License-Identifier: GPL-3.0-or-later
// Receive-path benchmark: the real window, opened on a pseudo-terminal the
// way an operator opens a port, fed by a separate process at a given report
// rate. Prints CPU, display lag, event-loop stalls and memory for the window
// as built, and for a reference run that inserts every read into the log in
// its own call.

#include "feeder.h"
#include "logwriter.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "reporthistory.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
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
    QString recordPath;   // CSV recording into this file
};

struct RunFigures
{
    QString name;
    long sent = 0;
    double cpuPercent = 0;
    double lagMedianMs = 0, lagP99Ms = 0, lagMaxMs = 0;
    int lagSamples = 0;
    double stallMs = 0;
    double rssStartMb = 0, rss10sMb = 0, rssEndMb = 0;
    double peakFirst10sMb = 0, peakAfter10sMb = 0;
    long recordedRows = -1;
};

void usage()
{
    std::printf("usage: orvale-bench-receive [--rate N] [--duration S] [--chunks whole|random]\n"
                "                            [--only coalesced|reference] [--trend] [--record PATH]\n"
                "  --rate N        reports per second (default 720, the limit of a 115200 baud line)\n"
                "  --duration S    seconds per run (default 30)\n"
                "  --chunks        whole frames per write, or frames cut at random points (default whole)\n"
                "  --only          run just one of the two runs\n"
                "  --memory-timeline  print resident memory every second\n"
                "  --trend         show the trend window (span 1 minute) during the runs, and time\n"
                "                  the statistics over a full history\n"
                "  --record PATH   record every report into PATH during each run\n");
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
        } else if (!std::strcmp(arg, "--record") && value) {
            o.recordPath = QString::fromLocal8Bit(value);
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

double cpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
    QTest::mouseClick(openButton, Qt::LeftButton);
    if (o.trend)
        window.findChild<QAction *>(QStringLiteral("actionTrend"))->trigger();
    if (!o.recordPath.isEmpty() && !window.startRecording(o.recordPath))
        std::fprintf(stderr, "cannot record into %s\n", qPrintable(o.recordPath));
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));

    QCoreApplication::processEvents();
    figures.rssStartMb = residentMb();
    const double cpuStart = cpuSeconds();
    const int64_t startUs = monotonicUs();
    feeder.start();

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
        lastTickUs = now;
        const double shownUs = lcd->value() * 1e8;
        const double sinceStartUs = double(now - startUs);
        if (shownUs > 0 && sinceStartUs < o.durationS * 1e6) {
            // Reports fall due every period after the one shown; the newest
            // one due by now is how far the display trails the line.
            const double nowUs = double(now - timeBaseUs);
            const double behind = std::max(0.0, nowUs - shownUs);
            lags.push_back(std::floor(behind / periodUs) * periodUs / 1000.0);
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

    const double cpu = cpuSeconds() - cpuStart;
    const double wall = double(monotonicUs() - startUs) / 1e6;
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
    std::printf("window CPU: %.1f%% of one core\n", f.cpuPercent);
    std::printf("display lag: median %.1f ms, p99 %.1f ms, max %.1f ms (%d samples)\n", f.lagMedianMs, f.lagP99Ms,
                f.lagMaxMs, f.lagSamples);
    std::printf("longest event-loop stall: %.1f ms\n", f.stallMs);
    std::printf("resident memory: start %.1f MB, at 10 s %.1f MB, end %.1f MB (growth after 10 s %.2f MB)\n",
                f.rssStartMb, f.rss10sMb, f.rssEndMb, f.rssEndMb - f.rss10sMb);
    std::printf("resident memory peaks (sampled each second): first 10 s %.1f MB, after 10 s %.1f MB\n",
                f.peakFirst10sMb, f.peakAfter10sMb);
    if (f.recordedRows >= 0)
        std::printf("CSV rows recorded: %ld of %ld reports sent\n", f.recordedRows, f.sent);
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
    preparePainting();
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
    std::printf("trend window %s, recording %s\n", o.trend ? "shown" : "not shown",
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
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Recording benchmark: writes a recording as the recorder does (3 million
// rows at 123 Sa/s by default, about 210 MB, in a temporary directory) and
// times, side by side in the same run, `orvale-qv --summary` over it,
// pandas.read_csv of it, and the recording window opening it. Then it
// opens the same file while the main window receives 720 reports a second
// and prints how far the display trailed the line meanwhile.

#include "commframe.h"
#include "csvrecorder.h"
#include "feeder.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "recordingreader.h"
#include "recordingwindow.h"
#include "reporthistory.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLCDNumber>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Options
{
    qint64 rows = 3000000;
    int rounds = 3;
    QString file;  // an existing recording instead of a new one
    QString write; // only write the recording there
    bool lag = true;
};

void usage()
{
    std::printf("usage: orvale-bench-recording [--rows N] [--rounds R] [--file PATH | --write PATH] [--no-lag]\n"
                "  --rows N     rows of the recording written for the run (default 3000000, 123 Sa/s)\n"
                "  --rounds R   rounds of the side-by-side timing (default 3)\n"
                "  --file PATH  time this recording instead of writing one\n"
                "  --write PATH only write the recording to PATH\n"
                "  --no-lag     skip the main window's lag while a recording loads\n");
}

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage();
            std::exit(0);
        } else if (!std::strcmp(arg, "--rows") && value) {
            o.rows = std::atoll(value);
            ++i;
        } else if (!std::strcmp(arg, "--rounds") && value) {
            o.rounds = std::atoi(value);
            ++i;
        } else if (!std::strcmp(arg, "--file") && value) {
            o.file = QString::fromLocal8Bit(value);
            ++i;
        } else if (!std::strcmp(arg, "--write") && value) {
            o.write = QString::fromLocal8Bit(value);
            ++i;
        } else if (!std::strcmp(arg, "--no-lag")) {
            o.lag = false;
        } else {
            return false;
        }
    }
    return o.rows > 0 && o.rounds > 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// A battery-like board at 123 Sa/s: 3.7 V falling a few µV a minute, a few
// µV of noise. Written by the recorder itself, so the rows are its rows.
bool writeRecording(const QString &path, qint64 rows)
{
    CsvRecorder recorder;
    if (!recorder.start(path))
        return false;
    constexpr uint8_t RateCode = 3;
    const qint64 rate = orvale::samplesPerSecond(RateCode);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - rows * 1000 / rate;
    uint32_t noise = 1;
    for (qint64 i = 0; i < rows; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const uint32_t value = 370000000u - uint32_t(i / 2000) + (noise >> 22) % 1000;
        const COMM_UART_OBJ report = {0xA1, {}, RateCode, 4, 0, 3, value, 0, 0};
        recorder.append(Arrival{t0 + i * 1000 / rate, 0}, report);
        if (i % 65536 == 65535 && !recorder.flush())
            return false;
    }
    recorder.stop();
    return true;
}

// Wall time of a process run to its end, or a negative time when it failed.
double runProcess(const QString &program, const QStringList &arguments, QByteArray *out = nullptr)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return -1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (out)
        *out = process.readAllStandardOutput();
    return seconds;
}

// From the call that opens the recording until its reports are shown.
double openInWindow(MainWindow &window, const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    window.openRecording({path});
    auto *recording = window.findChild<RecordingWindow *>(QStringLiteral("recordingWindow"));
    if (!recording)
        return -1;
    bool loaded = false;
    QEventLoop loop;
    QObject::connect(recording, &RecordingWindow::loaded, &loop, [&] {
        loaded = true;
        loop.quit();
    });
    QObject::connect(recording, &RecordingWindow::failed, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    recording->close();
    QTest::qWait(50);  // the deferred delete frees the history before the next round
    return loaded ? seconds : -1;
}

void sideBySide(const QString &path, int rounds)
{
    const QString pandasScript = QStringLiteral(
        "import sys, time\n"
        "import pandas\n"
        "t = time.perf_counter()\n"
        "frame = pandas.read_csv(sys.argv[1])\n"
        "print(time.perf_counter() - t, len(frame))\n");
    // Debian's own interpreter, which python3-pandas is for, before any
    // other python3 the PATH finds first.
    const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                                   : QStringLiteral("python3");
    MainWindow window;
    window.show();
    std::vector<double> summary, pandasProcess, pandasRead, opened;
    std::printf("\n[side by side over %s, %.1f MB; seconds]\n", qPrintable(QFileInfo(path).fileName()),
                double(QFileInfo(path).size()) / 1e6);
    std::printf("round  orvale-qv --summary  pandas.read_csv (whole python)  recording window\n");
    for (int r = 0; r < rounds; ++r) {
        QByteArray out;
        summary.push_back(runProcess(QStringLiteral(ORVALE_QV), {QStringLiteral("--summary"), path}, &out));
        if (r == 0)
            std::printf("summary: %s", out.constData());
        pandasProcess.push_back(runProcess(python, {QStringLiteral("-c"), pandasScript, path}, &out));
        pandasRead.push_back(out.split(' ').value(0).toDouble());
        opened.push_back(openInWindow(window, path));
        std::printf("%5d  %19.3f  %15.3f (%.3f)  %16.3f\n", r + 1, summary.back(), pandasRead.back(),
                    pandasProcess.back(), opened.back());
        std::fflush(stdout);
    }
    // The reader alone, in this process: its time and the history's memory.
    QElapsedTimer timer;
    timer.start();
    RecordingReader reader;
    if (reader.readFile(path)) {
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const auto history = reader.takeHistory();
        std::printf("reader alone: %.3f s, %lld rows, history %.1f MB, %.2f bytes a row\n", seconds,
                    static_cast<long long>(history->size()), double(history->bytesUsed()) / 1048576.0,
                    double(history->bytesUsed()) / double(std::max<qint64>(1, history->size())));
    }
    const double s = median(summary), p = median(pandasRead), w = median(opened);
    std::printf("median %19.3f  %15.3f (%.3f)  %16.3f\n", s, p, median(pandasProcess), w);
    std::printf("--summary / pandas.read_csv: %.2f (target <= 1, stretch <= 0.5); window / --summary: %.2f "
                "(target <= 2)\n",
                p > 0 ? s / p : 0.0, s > 0 ? w / s : 0.0);
    std::fflush(stdout);
}

// The main window on a pseudo-terminal at 720 reports a second; after two
// seconds the recording is opened, and the display's lag is sampled until
// it is shown.
void lagWhileLoading(Feeder &feeder, const QString &path, int64_t timeBaseUs, double rate)
{
    MainWindow window;
    window.show();
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("PortBox"));
    ports->addItem(feeder.portPath());
    ports->setCurrentIndex(ports->count() - 1);
    window.findChild<QComboBox *>(QStringLiteral("BaudBox"))->setCurrentText(QStringLiteral("115200"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("openButton")), Qt::LeftButton);
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    feeder.start();

    std::vector<double> lags;
    bool loading = false, done = false;
    int64_t lastTickUs = monotonicUs(), worstGapUs = 0, loadStartUs = 0, loadEndUs = 0;
    const double periodUs = 1e6 / rate;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const int64_t now = monotonicUs();
        if (loading)
            worstGapUs = std::max(worstGapUs, now - lastTickUs);
        lastTickUs = now;
        const double shownUs = lcd->value() * 1e8;
        if (loading && shownUs > 0) {
            // The newest report due by now against the one shown.
            const double behind = std::max(0.0, double(now - timeBaseUs) - shownUs);
            lags.push_back(std::floor(behind / periodUs) * periodUs / 1000.0);
        }
    });
    sampler.start(10);
    QTest::qWait(2000);
    loading = true;
    loadStartUs = monotonicUs();
    window.openRecording({path});
    auto *recording = window.findChild<RecordingWindow *>(QStringLiteral("recordingWindow"));
    if (recording) {
        QEventLoop loop;
        QObject::connect(recording, &RecordingWindow::loaded, &loop, [&] {
            done = true;
            loop.quit();
        });
        QObject::connect(recording, &RecordingWindow::failed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    loadEndUs = monotonicUs();
    loading = false;
    sampler.stop();
    feeder.finish();
    std::printf("\n[main window receiving %.0f reports/s while the recording loads]\n", rate);
    std::printf("load %s in %.3f s; display lag meanwhile: median %.1f ms, p99 %.1f ms, max %.1f ms (%zu samples); "
                "longest event-loop stall %.1f ms (targets: p99 <= 60 ms)\n",
                done ? "done" : "FAILED", double(loadEndUs - loadStartUs) / 1e6, percentile(lags, 0.5),
                percentile(lags, 0.99), lags.empty() ? 0.0 : *std::max_element(lags.begin(), lags.end()), lags.size(),
                double(worstGapUs) / 1000.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    preparePainting(argv);
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return 2;
    }
    // The feeder is forked before the application object starts threads.
    const int64_t timeBaseUs = monotonicUs();
    FeederPlan plan;
    plan.rate = 720;
    plan.durationS = 15;
    Feeder feeder;
    if (!o.write.isEmpty())
        o.lag = false;
    if (o.lag && !feeder.spawn(plan, timeBaseUs)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal or start the feeder\n");
        return 1;
    }
    QApplication app(argc, argv);
    orvale::registerFrameMetaType();

    QTemporaryDir dir;
    QString path = o.file;
    if (path.isEmpty()) {
        path = o.write.isEmpty() ? dir.filePath(QStringLiteral("recording.csv")) : o.write;
        QElapsedTimer timer;
        timer.start();
        if (!writeRecording(path, o.rows)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("orvale-bench-recording: wrote %lld rows at 123 Sa/s, %.1f MB, in %.1f s (platform %s)\n",
                    static_cast<long long>(o.rows), double(QFileInfo(path).size()) / 1e6,
                    double(timer.elapsed()) / 1000.0, qPrintable(QGuiApplication::platformName()));
    }
    if (!o.write.isEmpty())
        return 0;
    sideBySide(path, o.rounds);
    if (o.lag)
        lagWhileLoading(feeder, path, timeBaseUs, plan.rate);
    return 0;
}

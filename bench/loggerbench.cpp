// SPDX-License-Identifier: GPL-3.0-or-later
// orvale-logger's cost at the board's top rate, beside the least any program
// can spend on the same line: two simulated boards send 720 reports/s each,
// one read by orvale-logger (recording, compressing), the other copied into
// a file by cat. Both run side by side for the same seconds on the same
// machine, so what else the machine does weighs on both. Prints the CPU of
// each in % of one core, their ratio and the logger's resident memory.
//
//   orvale-bench-logger [SECONDS]    (default 60)

#include "cputime.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

qint64 rssKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Board
{
    QProcess process;
    QString pty;
    bool start(const QString &link)
    {
        process.start(QStringLiteral(ORVALE_BOARD_SIM),
                      {QStringLiteral("--rate"), QStringLiteral("720"), QStringLiteral("--link"), link});
        if (!process.waitForStarted() || !process.waitForReadyRead(10000))
            return false;
        pty = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !pty.isEmpty();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 60;
    QTemporaryDir dir;
    Board loggerBoard, catBoard;
    if (!loggerBoard.start(dir.filePath(QStringLiteral("ttyLOG"))) || !catBoard.start(dir.filePath(QStringLiteral("ttyCAT")))) {
        std::fprintf(stderr, "the simulated boards did not start\n");
        return 1;
    }
    // cat reads the line raw, as the logger's port does.
    if (QProcess::execute(QStringLiteral("stty"), {QStringLiteral("-F"), catBoard.pty, QStringLiteral("raw"),
                                                   QStringLiteral("-echo")}) != 0) {
        std::fprintf(stderr, "stty could not make %s raw\n", qPrintable(catBoard.pty));
        return 1;
    }
    QProcess logger, cat;
    logger.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logger.start(QStringLiteral(ORVALE_LOGGER), {QStringLiteral("--port"), loggerBoard.pty, QStringLiteral("--baud"),
                                                 QStringLiteral("115200"), QStringLiteral("--record"),
                                                 dir.filePath(QStringLiteral("rec"))});
    cat.setStandardInputFile(catBoard.pty);
    cat.setStandardOutputFile(dir.filePath(QStringLiteral("cat.bin")));
    cat.start(QStringLiteral("cat"), QStringList());
    if (!logger.waitForStarted() || !cat.waitForStarted()) {
        std::fprintf(stderr, "orvale-logger or cat did not start\n");
        return 1;
    }
    // Past the start-up's own work (the library loading, the first file).
    QThread::sleep(3);
    const double logger0 = processCpuSeconds(logger.processId()), cat0 = processCpuSeconds(cat.processId());
    QElapsedTimer clock;
    clock.start();
    qint64 rssMin = rssKiB(logger.processId()), rssMax = rssMin;
    while (clock.elapsed() < seconds * 1000) {
        QThread::msleep(500);
        const qint64 rss = rssKiB(logger.processId());
        rssMin = std::min(rssMin, rss);
        rssMax = std::max(rssMax, rss);
    }
    const double wall = clock.elapsed() / 1000.0;
    const double loggerCpu = (processCpuSeconds(logger.processId()) - logger0) / wall * 100;
    const double catCpu = (processCpuSeconds(cat.processId()) - cat0) / wall * 100;
    const qint64 catBytes = QFileInfo(dir.filePath(QStringLiteral("cat.bin"))).size();
    logger.terminate();
    logger.waitForFinished(10000);
    cat.kill();
    cat.waitForFinished(5000);
    loggerBoard.process.terminate();
    catBoard.process.terminate();
    loggerBoard.process.waitForFinished(5000);
    catBoard.process.waitForFinished(5000);

    std::printf("%d s at 720 reports/s on each of two simulated boards, side by side\n", int(wall + 0.5));
    std::printf("orvale-logger: %.3f %% of one core, resident %lld-%lld KiB (target: at most 1 %%, 16 MB)\n", loggerCpu,
                rssMin, rssMax);
    std::printf("cat into a file: %.3f %% of one core (%lld bytes copied)\n", catCpu, catBytes);
    std::printf("logger / cat: %.2f (target: at most 3)\n", catCpu > 0 ? loggerCpu / catCpu : 0.0);
    std::printf("logger exit status after SIGTERM: %d\n", logger.exitCode());
    return 0;
}

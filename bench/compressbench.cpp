// SPDX-License-Identifier: GPL-3.0-or-later
// Compression of a closed 64 MB recording, as the logger does it after a
// rotation, against the time the file took to record at 720 reports/s
// (it must stay under a tenth), and the compressed file read back.
#include "csvrecorder.h"
#include "housekeeper.h"
#include "recordingreader.h"
#include "reporthistory.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

int main(int argc, char **argv)
{
    const qint64 target = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 64) * 1024 * 1024;
    const double rate = 720.0;
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("bench-20260301T000000Z.csv"));

    // A board near 3.3 V with noise in the last digits, 720 rows a second.
    QFile file(plain);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(plain));
        return 1;
    }
    file.write(CsvRecorder::Header);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 300.0);
    const qint64 start = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    COMM_UART_OBJ report{};
    report.dev_id = 1;
    report.sa_code = 3;
    QByteArray rows;
    qint64 count = 0, size = file.size();
    while (size < target) {
        rows.clear();
        for (int k = 0; k < 4096; ++k, ++count) {
            const qint64 ms = qint64(double(count) * 1000.0 / rate);
            report.value = uint32_t(330000000 + qint64(noise(random)));
            CsvRecorder::appendRow(rows, start + ms, ms, report);
        }
        file.write(rows);
        size += rows.size();
    }
    file.close();
    const qint64 plainBytes = QFileInfo(plain).size();
    const double rowBytes = double(plainBytes) / double(count);
    const double recordSeconds = double(count) / rate;

    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!Housekeeper::compressFile(plain, Housekeeper::Level, nullptr, error)) {
        std::fprintf(stderr, "compression failed: %s\n", qPrintable(error));
        return 1;
    }
    const double compressSeconds = double(timer.nsecsElapsed()) / 1e9;
    const QString zst = plain + QStringLiteral(".zst");
    const qint64 zstBytes = QFileInfo(zst).size();

    timer.restart();
    RecordingReader reader;
    const bool read = reader.readFile(zst);
    const double readSeconds = double(timer.nsecsElapsed()) / 1e9;
    const qint64 readRows = read ? reader.takeHistory()->size() : -1;

    std::printf("recording: %.1f MB, %lld rows of %.1f bytes\n", double(plainBytes) / 1048576.0, (long long)count, rowBytes);
    std::printf("recorded at %.0f/s in:      %8.1f s\n", rate, recordSeconds);
    std::printf("compressed (zstd level %d):  %8.2f s  (%.4f of the recording time; must be < 0.1)\n",
                Housekeeper::Level, compressSeconds, compressSeconds / recordSeconds);
    std::printf("compressed size:            %8.1f MB (%.1f%% of the plain file)\n", double(zstBytes) / 1048576.0,
                100.0 * double(zstBytes) / double(plainBytes));
    std::printf("read back through zstd:     %8.2f s  (%lld rows%s)\n", readSeconds, (long long)readRows,
                readRows == count ? ", all" : ", NOT ALL");
    return readRows == count ? 0 : 1;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The headless logger's files: rotation, names, compression, the disk limit
// and a full disk; its messages and its notifications to the service manager.
#include "csvrecorder.h"
#include "housekeeper.h"
#include "messagelog.h"
#include "recordingfolder.h"
#include "recordingreader.h"
#include "reporthistory.h"
#include "rotatingrecorder.h"
#include "rotation.h"
#include "systemdnotifier.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// 2026-03-01 22:59:58 UTC: two seconds before an hour's end, two hours
// before a day's.
const qint64 Base = QDateTime(QDate(2026, 3, 1), QTime(22, 59, 58), Qt::UTC).toMSecsSinceEpoch();

COMM_UART_OBJ report(uint32_t value)
{
    COMM_UART_OBJ r{};
    r.dev_id = 1;
    r.sa_code = 1;
    r.value = value;
    return r;
}

// The values of a recording, read back as the window reads it.
QVector<uint32_t> valuesOf(const QString &path)
{
    RecordingReader reader;
    if (!reader.readFile(path)) {
        qWarning("%s: code %d", qPrintable(path), int(reader.failure().error));
        return {};
    }
    const auto history = reader.takeHistory();
    QVector<uint32_t> values;
    for (qint64 i = history->firstIndex(); i < history->endIndex(); ++i)
        values.append(history->valueAt(i));
    return values;
}

QStringList names(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void rotationText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");  // -1: refused
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("hourly") << "hourly" << int(Rotation::Kind::Hourly) << qint64(0);
        QTest::newRow("daily") << "daily" << int(Rotation::Kind::Daily) << qint64(0);
        QTest::newRow("plain bytes") << "4096" << int(Rotation::Kind::Size) << qint64(4096);
        QTest::newRow("k") << "3k" << int(Rotation::Kind::Size) << qint64(3072);
        QTest::newRow("zero") << "0" << -1 << qint64(0);
        QTest::newRow("negative") << "-5M" << -1 << qint64(0);
        QTest::newRow("unit word") << "64MB" << -1 << qint64(0);
        QTest::newRow("unknown unit") << "1T" << -1 << qint64(0);
        QTest::newRow("hex") << "0x10" << -1 << qint64(0);
        QTest::newRow("overflow") << "99999999999G" << -1 << qint64(0);
        QTest::newRow("empty") << "" << -1 << qint64(0);
        QTest::newRow("capitalised") << "Hourly" << -1 << qint64(0);
    }

    // Catches: a multiplication that overflows into a small or negative limit,
    // a zero size (a new file at every row), a name taken in any case.
    void rotationText()
    {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(qint64, bytes);
        const auto rotation = Rotation::parse(text);
        QCOMPARE(rotation.has_value(), kind >= 0);
        if (rotation) {
            QCOMPARE(int(rotation->kind()), kind);
            QCOMPARE(rotation->maxBytes(), bytes);
        }
    }

    void rotatesWithoutLosingOrDoubling_data()
    {
        QTest::addColumn<QString>("rotate");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<int>("files");
        // 300 rows 10 ms apart cross the hour at the 201st.
        QTest::newRow("hourly") << "hourly" << 10 << 2;
        // 4 h of rows a minute apart cross midnight once.
        QTest::newRow("daily") << "daily" << 60000 << 2;
        // A few rows a file; how many follows from the rows' lengths (-1).
        QTest::newRow("size") << "600" << 10 << -1;
    }

    // Catches: a boundary row written to the old file or dropped, pending rows
    // lost when a file is closed, a file without its header, a file over its
    // size, a name not from the file's first row.
    void rotatesWithoutLosingOrDoubling()
    {
        QFETCH(QString, rotate);
        QFETCH(int, stepMs);
        QFETCH(int, files);
        QTemporaryDir dir;
        const auto rotation = Rotation::parse(rotate);
        QVERIFY(rotation);
        QStringList closed;
        {
            RotatingRecorder recorder(RecordingFolder(dir.path(), QStringLiteral("ttyUSB0")), *rotation);
            connect(&recorder, &RotatingRecorder::fileClosed, this, [&](const QString &path) { closed << path; });
            for (int i = 0; i < 300; ++i) {
                recorder.append(Arrival{Base + qint64(i) * stepMs, qint64(i) * stepMs}, report(uint32_t(i)));
                if (i % 7 == 0)
                    QVERIFY(recorder.flush());
            }
            recorder.stop();
            QCOMPARE(recorder.rowsWritten(), qint64(300));
        }
        if (files > 0)
            QCOMPARE(closed.size(), files);
        QCOMPARE(names(dir.path()).size(), closed.size());
        QVector<uint32_t> all;
        for (const QString &path : closed) {
            const QVector<uint32_t> values = valuesOf(path);
            QVERIFY2(!values.isEmpty(), qPrintable(path));
            const qint64 firstMs = Base + qint64(values.first()) * stepMs;
            QVERIFY2(path.endsWith(RecordingFolder::stamp(firstMs) + ".csv")
                         || path.contains(RecordingFolder::stamp(firstMs) + "-"), qPrintable(path));
            if (rotation->kind() == Rotation::Kind::Size) {
                // Under the size, and full: the next file's first row would not
                // have fitted.
                QVERIFY(QFileInfo(path).size() <= rotation->maxBytes());
                const int k = closed.indexOf(path);
                if (k + 1 < closed.size()) {
                    QFile next(closed[k + 1]);
                    QVERIFY(next.open(QIODevice::ReadOnly));
                    next.readLine();
                    QVERIFY(QFileInfo(path).size() + next.readLine().size() > rotation->maxBytes());
                }
            } else
                QCOMPARE(rotation->period(Base + qint64(values.last()) * stepMs), rotation->period(firstMs));
            all += values;
        }
        QCOMPARE(all.size(), 300);
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(all[i], uint32_t(i));
    }

    // Catches: a file left open over a quiet boundary (neither closed nor
    // compressed until the next report arrives).
    void closesAtBoundaryWhenQuiet()
    {
        QTemporaryDir dir;
        qint64 now = Base;
        RotatingRecorder recorder(RecordingFolder(dir.path(), QStringLiteral("q")), Rotation::hourly());
        recorder.setClock([&now] { return now; });
        QSignalSpy closed(&recorder, &RotatingRecorder::fileClosed);
        recorder.append(Arrival{Base, 0}, report(1));
        now = Base + 3000;  // past the hour
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
        QCOMPARE(valuesOf(closed.at(0).at(0).toString()), QVector<uint32_t>{1});
    }

    // Catches: the next name chosen from the plain files only (a compressed or
    // half-compressed file's name reused after a restart), another name's files
    // taken as this one's.
    void namesAreNeverReused()
    {
        QTemporaryDir dir;
        const QString stamp = RecordingFolder::stamp(Base);
        for (const QString &name : {"a-" + stamp + ".csv.zst", "a-" + stamp + "-2.csv.zst.tmp", "a-b-" + stamp + "-7.csv"}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        RecordingFolder folder(dir.path(), QStringLiteral("a"));
        QCOMPARE(QFileInfo(folder.newFilePath(Base + 999)).fileName(), "a-" + stamp + "-3.csv");
        QCOMPARE(QFileInfo(folder.newFilePath(Base + 1000)).fileName(), "a-" + RecordingFolder::stamp(Base + 1000) + ".csv");
        QCOMPARE(folder.files().size(), 2);
        // A restart in the same second: each run's file its own name.
        QStringList made;
        for (int run = 0; run < 2; ++run) {
            RotatingRecorder recorder(folder, Rotation::daily());
            connect(&recorder, &RotatingRecorder::fileClosed, this, [&](const QString &path) { made << QFileInfo(path).fileName(); });
            recorder.append(Arrival{Base + 500, 0}, report(uint32_t(run)));
        }
        QCOMPARE(made, QStringList({"a-" + stamp + "-3.csv", "a-" + stamp + "-4.csv"}));
        QCOMPARE(QFileInfo(RecordingFolder(dir.path(), QStringLiteral("a-b")).newFilePath(Base)).fileName(), "a-b-" + stamp + "-8.csv");
    }

    // Catches: a stream never ended (the last block missing), the reader not
    // taking .zst (by content or by its first line), a damaged one read as
    // fewer rows; a leftover temporary taken for a finished file, the plain
    // file removed before the rename, closed files of an earlier run left
    // plain, the current file compressed under the recorder, a stopped
    // compression that leaves its temporary or loses the plain file.
    void compressionFinishesWhatAStopLeft()
    {
        QTemporaryDir dir;
        RecordingFolder folder(dir.path(), QStringLiteral("c"));
        QStringList files;
        {
            RotatingRecorder recorder(folder, Rotation::hourly());
            connect(&recorder, &RotatingRecorder::fileClosed, this, [&](const QString &path) { files << path; });
            // The hour's 40000 rows fill several of the compressor's blocks.
            for (int i = 0; i < 40200; ++i)
                recorder.append(Arrival{Base - 38000 + i, i}, report(uint32_t(i * 7919)));
        }
        QCOMPARE(files.size(), 2);
        const QVector<uint32_t> first = valuesOf(files[0]);
        QCOMPARE(first.size(), 40000);

        // Stopped partway: no temporary, the plain file as it was.
        std::atomic<bool> stop{true};
        QString error;
        QVERIFY(!Housekeeper::compressFile(files[0], Housekeeper::Level, &stop, error));
        QVERIFY(!QFile::exists(RecordingFolder::partialPath(files[0])));
        QCOMPARE(valuesOf(files[0]), first);

        // A kill mid-way leaves a cut temporary beside the whole plain file.
        QFile partial(RecordingFolder::partialPath(files[0]));
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write("\x28\xb5\x2f\xfd garbage", 12);
        partial.close();

        Housekeeper keeper(folder);
        keeper.setCurrentFile(files[1]);  // the second one still being written
        QSignalSpy compressed(&keeper, &Housekeeper::compressed);
        keeper.sweep();
        keeper.waitForIdle();
        QCOMPARE(compressed.count(), 1);
        const QString zst = RecordingFolder::compressedPath(files[0]);
        QCOMPARE(names(dir.path()), QStringList({QFileInfo(zst).fileName(), QFileInfo(files[1]).fileName()}));
        RecordingReader::Failure reason;
        QVERIFY(RecordingReader::looksLikeRecording(zst, reason));
        QCOMPARE(valuesOf(zst), first);

        QFile f(zst);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() / 2));
        f.close();
        RecordingReader reader;
        QVERIFY(!reader.readFile(zst));
        QCOMPARE(reader.failure().error, RecordingReader::Error::CompressedCut);
    }

    // Catches: the newest files removed instead of the oldest, the current file
    // removed, more removed than needed, a removal not reported.
    void maxDiskRemovesOldestClosed()
    {
        QTemporaryDir dir;
        RecordingFolder folder(dir.path(), QStringLiteral("m"));
        QStringList files;
        for (int i = 0; i < 5; ++i) {
            const QString path = folder.newFilePath(Base + i * 1000);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(1000, 'x'));
            files << path;
        }
        // The current one, oldest by name after a clock set back, stays.
        Housekeeper keeper(folder);
        keeper.setCompress(false);
        keeper.setMaxDiskBytes(2500);
        keeper.setCurrentFile(files[0]);
        QStringList messages;
        connect(&keeper, &Housekeeper::message, this, [&](int, const QString &text) { messages << text; }, Qt::DirectConnection);
        QSignalSpy removed(&keeper, &Housekeeper::removed);
        keeper.sweep();
        keeper.waitForIdle();
        QCOMPARE(removed.count(), 3);
        QCOMPARE(removed.at(0).at(0).toString(), files[1]);
        QCOMPARE(removed.at(2).at(0).toString(), files[3]);
        QCOMPARE(names(dir.path()), QStringList({QFileInfo(files[0]).fileName(), QFileInfo(files[4]).fileName()}));
        QCOMPARE(messages.size(), 3);
        QVERIFY(messages.at(0).contains(files[1]));
    }

    // Catches: a cut row left in the file, rows that fitted thrown away, the
    // system's reason not reported, reports lost uncounted, a recorder that gives
    // up after the first failure.
    void fullDiskKeepsWholeRowsAndCountsLost()
    {
        if (geteuid() != 0)
            QSKIP("needs root to mount a small tmpfs");
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        // In a mount namespace of this process's own where the system allows
        // it, so a suite that dies leaves no mount behind.
        if (::unshare(CLONE_NEWNS) == 0)
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)))));
        struct Unmount
        {
            QByteArray at;
            ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
        } unmount{mountPoint};
        // Fill it but for a few kilobytes.
        QFile filler(dir.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(64 * 1024 - 5000, 'f'));
        filler.close();

        RotatingRecorder recorder(RecordingFolder(dir.path(), QStringLiteral("full")), Rotation::daily());
        recorder.setRetryInterval(50);
        QList<QPair<int, QString>> messages;
        connect(&recorder, &RotatingRecorder::message, this, [&](int p, const QString &text) { messages.append({p, text}); });
        int i = 0;
        while (recorder.flush() && i < 2000) {
            for (int k = 0; k < 10; ++k, ++i)
                recorder.append(Arrival{Base + i, i}, report(uint32_t(i)));
        }
        QVERIFY(recorder.isBlocked());
        const QString path = recorder.currentFile();
        QVERIFY(messages.size() >= 2);
        QCOMPARE(messages.last().first, int(MessageLog::Error));
        QVERIFY2(messages.last().second.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(messages.last().second));
        // Whole rows only, each one that reached the file, in order.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();
        QVERIFY(bytes.endsWith('\n'));
        const QVector<uint32_t> kept = valuesOf(path);
        QCOMPARE(qint64(kept.size()), recorder.rowsWritten());
        for (int k = 0; k < kept.size(); ++k)
            QCOMPARE(kept[k], uint32_t(k));
        // The 4 kB after the header hold more than the 60 rows written before
        // the last flush: the rows of the failed write that fitted are kept.
        QVERIFY(bytes.size() > 4096 - 64);

        // While blocked, reports are counted, not written; space comes back.
        for (int k = 0; k < 5; ++k, ++i)
            recorder.append(Arrival{Base + i, i}, report(uint32_t(i)));
        const qint64 lost = recorder.reportsLost();
        QVERIFY(lost >= 5);
        QVERIFY(QFile::remove(dir.filePath("filler")));
        QTRY_VERIFY(!recorder.isBlocked());
        recorder.append(Arrival{Base + i, i}, report(uint32_t(i)));
        QVERIFY(recorder.flush());
        QCOMPARE(messages.last().first, int(MessageLog::Warning));
        QVERIFY2(messages.last().second.endsWith(": " + QString::number(lost)), qPrintable(messages.last().second));
        const QVector<uint32_t> after = valuesOf(path);
        QCOMPARE(after.last(), uint32_t(i));
        QCOMPARE(qint64(after.size()), recorder.rowsWritten());
    }

    // Catches: STATUS not sent, the watchdog not at half the unit's interval,
    // pings sent when the unit set none (READY: tst_loggerapp).
    void notifiesServiceManager()
    {
        QTemporaryDir dir;
        const QByteArray socketPath = QFile::encodeName(dir.filePath("notify"));
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        struct Close
        {
            int fd;
            ~Close() { ::close(fd); }
        } closer{fd};
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const auto receive = [fd] {
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
        };

        qputenv("NOTIFY_SOCKET", socketPath);
        qunsetenv("WATCHDOG_USEC");
        {
            SystemdNotifier quiet;
            QCOMPARE(quiet.watchdogIntervalMs(), 0);
            quiet.status(QStringLiteral("recording, 12 rows"));
            QCOMPARE(receive(), QByteArray("STATUS=recording, 12 rows"));
        }
        qputenv("WATCHDOG_USEC", "200000");
        qputenv("WATCHDOG_PID", QByteArray::number(qint64(getpid())));
        SystemdNotifier notifier;
        QCOMPARE(notifier.watchdogIntervalMs(), 100);
        QByteArray ping;
        QTRY_VERIFY2((ping += receive()).contains("WATCHDOG=1"), ping.constData());
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
        qunsetenv("WATCHDOG_PID");
    }

    // Catches: the prefix written to a terminal, left off in the journal, a
    // JOURNAL_STREAM inherited from a parent whose stream this is not taken as
    // the journal, a message broken over lines.
    void journalPrefix()
    {
        int pipeFds[2];
        QVERIFY(::pipe(pipeFds) == 0);
        struct stat st {};
        QVERIFY(::fstat(pipeFds[1], &st) == 0);
        const auto stream = [&st](qulonglong device, qulonglong inode) {  // JOURNAL_STREAM's "device:inode"
            return QByteArray::number(st.st_dev + device) + ':' + QByteArray::number(st.st_ino + inode);
        };
        MessageLog(pipeFds[1], stream(0, 0)).write(MessageLog::Error, QStringLiteral("cannot write\nthe file"));
        MessageLog(pipeFds[1], stream(0, 0)).write(MessageLog::Info, QStringLiteral("recording"));
        MessageLog(pipeFds[1], stream(0, 1)).write(MessageLog::Warning, QStringLiteral("lost 3"));
        MessageLog(pipeFds[1], stream(1, 0)).write(MessageLog::Warning, QStringLiteral("lost 4"));
        MessageLog(pipeFds[1], QByteArray()).write(MessageLog::Info, QStringLiteral("recording"));
        ::close(pipeFds[1]);
        char buffer[256];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        ::close(pipeFds[0]);
        QCOMPARE(QByteArray(buffer, int(n)), QByteArray("<3>cannot write the file\n<6>recording\nwarning: lost 3\nwarning: lost 4\nrecording\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "recordingfolder.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>

// Keeps the logger's folder off the event loop, on one worker thread: closed
// plain files compressed with zstd into .csv.zst, and the oldest closed files
// removed while the recordings pass the disk limit. Jobs run one at a time,
// in order, so a removal never meets a compression of the same file.
//
// A compression writes a temporary .csv.zst.tmp, syncs it, renames it and
// only then removes the plain file: cut short at any point, the plain file
// stays whole, and the next sweep (every start makes one) does it again.
class Housekeeper : public QObject
{
    Q_OBJECT

public:
    // zstd's default: a recording shrinks to about a tenth, and a closed
    // 64 MB file takes a ten-thousandth of its recording time at 720/s on
    // an x86 server core (bench/compressbench.cpp); room for a small board.
    static constexpr int Level = 3;

    Housekeeper(const RecordingFolder &folder, QObject *parent = nullptr);
    // Stops a compression under way (its plain file stays) and waits.
    ~Housekeeper() override;

    // Set before the first sweep.
    void setCompress(bool compress) { m_compress = compress; }
    void setMaxDiskBytes(qint64 bytes) { m_maxDisk = bytes; }

    // The file being written, never touched; from the recorder's fileOpening.
    void setCurrentFile(const QString &path);
    // Queues one pass: leftovers of cut-short compressions removed, closed
    // plain files compressed, the limit kept. Returns at once.
    void sweep();
    // Waits for the queued passes (tests, shutdown).
    void waitForIdle();

    // Compresses one file as a sweep does; false with `error` (the plain
    // file then stays). `stop`, when set, cuts it short.
    [[nodiscard]] static bool compressFile(const QString &plainPath, int level, const std::atomic<bool> *stop, QString &error);

signals:
    // Emitted from the worker thread; queued to receivers on other threads.
    void compressed(const QString &plainPath, const QString &compressedPath);
    void removed(const QString &path, qint64 bytes);
    void message(int priority, const QString &text);

private:
    void runSweep();
    QString currentFile() const;

    RecordingFolder m_folder;
    bool m_compress = true;
    qint64 m_maxDisk = 0;
    mutable QMutex m_lock;
    QString m_current;
    std::atomic<bool> m_stopping{false};
    QThreadPool m_pool;
};

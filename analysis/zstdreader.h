// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <vector>

struct ZSTD_DCtx_s;

// Yields the plain bytes of a zstd-compressed file (the logger's closed
// recordings, `….csv.zst`) in blocks, without holding the whole file, so the
// recording reader parses a compressed recording as it does a plain one.
// Consecutive frames are read as one stream, as the zstd tool does.
class ZstdReader
{
public:
    explicit ZstdReader(const QString &path);
    ~ZstdReader();
    ZstdReader(const ZstdReader &) = delete;
    ZstdReader &operator=(const ZstdReader &) = delete;

    // True for a name the reader should be used on (ends in .zst).
    static bool isCompressedName(const QString &path);

    bool open();
    // The plain size when the first frame states it (the logger's do), else -1.
    qint64 plainSize() const { return m_plainSize; }
    // Up to `max` plain bytes into `into`; 0 at the end, -1 on an error
    // (a damaged or cut-short file among them).
    qint64 read(char *into, qint64 max);
    bool rewind();

    // Why the last call failed: the system's reason (in detail()), a frame
    // the file ends inside (cut short), or data zstd cannot decode (its
    // reason in detail()).
    enum class Problem { None, System, Cut, Corrupt };
    Problem problem() const { return m_problem; }
    QString detail() const { return m_detail; }

private:
    bool fail(Problem problem, const QString &detail = QString());

    QFile m_file;
    ZSTD_DCtx_s *m_ctx = nullptr;
    std::vector<char> m_in;
    size_t m_inPos = 0;
    size_t m_inSize = 0;
    size_t m_lastResult = 0;  // 0 when the last frame read was complete
    bool m_inputEnded = false;
    qint64 m_plainSize = -1;
    Problem m_problem = Problem::None;
    QString m_detail;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class ReportHistory;

// Reads a recording (the CSV the recorder writes, or what a person's
// editing of it leaves) back into a history of its own, so the same
// statistics and analyses run over it as over the reports received live.
//
// Columns are found by the header's names (utc_time and value_v needed,
// sample_rate used when present); a UTF-8 byte-order mark, \r\n line ends and
// quoted fields are taken; a name ending in .zst is read through zstd. A line that does not parse is skipped and counted.
// Values are parsed to the exact count of 10 nV and times to the millisecond
// with integer arithmetic, so a recording's statistics equal the live ones.
// The reader works on large blocks and allocates nothing per row, so a
// recording of millions of rows loads in about a second (bench/).
class RecordingReader
{
public:
    // About nine days at 123 Sa/s; the history then holds about 1.2 GB.
    static constexpr qint64 MaxRows = 100000000;
    // The code a row gets when its sample_rate text is not one of the board's
    // rates (or there is no such column): outside the table, so the spectrum
    // falls back to the rate measured from the times.
    static constexpr uint8_t UnknownRateCode = 0xFF;

    // Why a read failed, as a value: each front end words it in its own
    // language (the window in Chinese, the command line in English).
    enum class Error {
        None,
        IsDirectory,
        CannotRead,      // the system's reason in systemReason
        Empty,
        Cancelled,
        TooManyRows,     // rows: how many the file holds, above MaxRows
        NoHeader,        // the first line is no line of column names
        UnpairedQuotes,  // in the first line
        MissingColumns,  // missingColumns: utc_time, value_v or both
        CompressedCut,   // a compressed file ends inside a frame
        CompressedCorrupt,  // zstd's reason in systemReason
    };
    struct Failure
    {
        Error error = Error::None;
        QString systemReason;
        qint64 rows = 0;
        QStringList missingColumns;

        bool operator==(const Failure &other) const
        {
            return error == other.error && systemReason == other.systemReason && rows == other.rows
                   && missingColumns == other.missingColumns;
        }
        bool operator!=(const Failure &other) const { return !(*this == other); }
    };

    // `cancel`, when given, is polled between blocks; set from another
    // thread, it ends the read with wasCancelled().
    explicit RecordingReader(const std::atomic<bool> *cancel = nullptr);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    // Called after each block with the bytes read so far and the file's size.
    void setProgressHandler(std::function<void(qint64 done, qint64 total)> handler);

    // False with failure() when the file cannot be read, is empty, has no
    // utc_time or value_v in its first line, holds more than MaxRows rows or
    // the read was cancelled.
    bool readFile(const QString &path);
    // Several files as one recording: their rows in time order (files
    // ordered by their first row's time, then by name), each file with its
    // own header, read as exactly and tolerantly as one file. An empty file
    // among them adds nothing; any other failure ends the read, with
    // failedFile() naming the file.
    bool readFiles(const QStringList &paths);
    // The recordings of a folder (.csv and .csv.zst, by name): a plain file
    // whose compressed copy is there too is taken once, as the plain one.
    [[nodiscard]] static QStringList recordingsIn(const QString &dir);
    // The same over bytes in memory (for tests and the fuzzer), taken in
    // blocks of `blockSize` bytes (0: all at once), which must not change
    // the result.
    bool readBytes(const char *data, qint64 size, qint64 blockSize = 0);

    // Only the file's first line: false with the reason when the file cannot
    // be read, is empty or names no utc_time and value_v. Cheap, so a window
    // need not open for a file that is no recording.
    [[nodiscard]] static bool looksLikeRecording(const QString &path, Failure &reason);

    // The reports read, oldest first; null before a successful read.
    std::unique_ptr<ReportHistory> takeHistory();
    qint64 skippedLines() const { return m_skipped; }
    // Error::None after a successful read.
    Failure failure() const { return m_failure; }
    // The file a failed read stopped at.
    QString failedFile() const { return m_failedFile; }
    bool wasCancelled() const { return m_failure.error == Error::Cancelled; }

private:
    struct Columns;
    class Source;
    class FileSource;
    class MemorySource;
    class ZstdSource;

    bool read(Source &source);
    std::unique_ptr<Source> openSource(const QString &path);
    // The two passes over one source: its lines counted (with `firstMs`, the
    // first row's time found), then its rows parsed into m_history. `done`
    // adds up the bytes over several sources, for the progress.
    bool countLines(Source &source, std::vector<char> &buffer, qint64 &lines, qint64 &done, qint64 total,
                    qint64 *firstMs = nullptr);
    bool parseRows(Source &source, std::vector<char> &buffer, qint64 &done, qint64 total);
    void progress(qint64 counted, qint64 parsed, qint64 total);
    bool cancelled() const;
    bool fail(Error error);
    bool fail(const Failure &failure);
    bool failTooMany(qint64 rows);
    bool failIn(const QString &path);
    bool failed() const { return m_failure.error != Error::None; }
    bool takeHeader(const char *begin, const char *end);
    // Parses the whole lines in [begin, end) and returns where the first
    // line not ended by '\n' begins; with `atEnd`, that last line too.
    const char *parseLines(const char *begin, const char *end, bool atEnd);
    void parseRow(const char *begin, const char *end);

    const std::atomic<bool> *m_cancel = nullptr;
    std::function<void(qint64, qint64)> m_progress;
    std::unique_ptr<Columns> m_columns;
    std::unique_ptr<ReportHistory> m_history;
    qint64 m_rows = 0;
    qint64 m_skipped = 0;
    Failure m_failure;
    QString m_failedFile;
};

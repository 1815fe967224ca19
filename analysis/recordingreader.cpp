// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingreader.h"

#include "zstdreader.h"

#include "commframe.h"
#include "reporthistory.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Blocks of this size keep the system calls few and the buffer in the cache's
// reach; a line longer than the limit is no row of a recording and is skipped
// whatever the block size, so the result never depends on where blocks fall.
constexpr qint64 FileBlockSize = 4 << 20;
constexpr qint64 MaxLineLength = 4096;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void trim(const char *&b, const char *&e)
{
    while (b < e && (*b == ' ' || *b == '\t'))
        ++b;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t'))
        --e;
}

// One field starting at `p`: [fb, fe) is its text, without the quotes of a
// quoted one (an escaped "" inside stays doubled, which no number or rate
// text holds). `p` is left on the ',' after the field or at `end`. False for
// a quoted field not closed before the line ends or followed by more text:
// a quoted field never spans lines here, so a stray quote costs one line,
// not the rest of the file.
bool nextField(const char *&p, const char *end, const char *&fb, const char *&fe)
{
    if (p < end && *p == '"') {
        fb = ++p;
        for (;;) {
            p = static_cast<const char *>(std::memchr(p, '"', size_t(end - p)));
            if (!p)
                return false;
            if (p + 1 < end && p[1] == '"') {
                p += 2;
                continue;
            }
            fe = p++;
            return p == end || *p == ',';
        }
    }
    fb = p;
    while (p < end && *p != ',')
        ++p;
    fe = p;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

unsigned digits(const char *p, int n)
{
    unsigned v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + unsigned(p[i] - '0');
    return v;
}

// "yyyy-MM-ddTHH:mm:ss.zzzZ" to milliseconds since the epoch, by hand: a
// QDateTime per row would cost more than all the rest of the row. Also taken:
// a space for the 'T', no 'Z', 0 to 9 digits of fraction (cut to the ms).
bool parseUtc(const char *b, const char *e, qint64 &ms)
{
    trim(b, e);
    if (e - b < 19)
        return false;
    static const char Shape[] = "dddd-dd-ddTdd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        const char want = Shape[i];
        if (want == 'd' ? !isDigit(b[i]) : want == 'T' ? (b[i] != 'T' && b[i] != ' ') : b[i] != want)
            return false;
    }
    const unsigned year = digits(b, 4), month = digits(b + 5, 2), day = digits(b + 8, 2);
    const unsigned hour = digits(b + 11, 2), minute = digits(b + 14, 2), second = digits(b + 17, 2);
    static const unsigned char MonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > MonthDays[month - 1] || (month == 2 && day == 29 && !leap)
        || hour > 23 || minute > 59 || second > 59)
        return false;
    const char *p = b + 19;
    unsigned milli = 0;
    if (p < e && *p == '.') {
        ++p;
        int n = 0;
        for (; p < e && isDigit(*p); ++p, ++n) {
            if (n < 3)
                milli = milli * 10 + unsigned(*p - '0');
        }
        if (n == 0 || n > 9)
            return false;
        for (; n < 3; ++n)
            milli *= 10;
    }
    if (p < e && *p == 'Z')
        ++p;
    if (p != e)
        return false;
    const qint64 days = daysFromCivil(year, month, day);
    ms = ((days * 24 + hour) * 60 + minute) * 60000 + qint64(second) * 1000 + milli;
    return true;
}

// A value in volts to its count of 10 nV, exactly: the decimal digits are
// taken as an integer and shifted by powers of ten, rounded half up past
// the eighth decimal, never through a double. Takes a sign '+', an exponent
// ("3.7E+00", as spreadsheets write), and refuses what no count can be
// (negative, above 42.94967295 V).
bool parseValue(const char *b, const char *e, uint32_t &count)
{
    trim(b, e);
    if (b < e && *b == '+')
        ++b;
    uint64_t mantissa = 0;
    int significant = 0;
    int shift = 8;  // decimal exponent to apply to the mantissa, in counts
    bool any = false, point = false;
    int roundDigit = -1;  // first digit past what the mantissa holds
    for (; b < e; ++b) {
        const char c = *b;
        if (isDigit(c)) {
            any = true;
            if (significant < 19) {
                if (mantissa || c != '0')
                    ++significant;
                mantissa = mantissa * 10 + uint64_t(c - '0');
                if (point)
                    --shift;
            } else {
                if (roundDigit < 0)
                    roundDigit = c - '0';
                if (!point)
                    ++shift;
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any)
        return false;
    if (b < e && (*b == 'e' || *b == 'E')) {
        ++b;
        bool negative = false;
        if (b < e && (*b == '+' || *b == '-'))
            negative = *b++ == '-';
        int exponent = 0, n = 0;
        for (; b < e && isDigit(*b); ++b, ++n) {
            if (exponent < 1000)
                exponent = exponent * 10 + (*b - '0');
        }
        if (n == 0)
            return false;
        shift += negative ? -exponent : exponent;
    }
    if (b != e)
        return false;
    if (mantissa == 0) {
        count = 0;
        return true;
    }
    if (shift > 0) {
        for (int i = 0; i < shift; ++i) {
            if (mantissa > UINT32_MAX)
                return false;
            mantissa *= 10;
        }
    } else if (shift < 0) {
        if (shift < -19) {
            mantissa = 0;
        } else {
            uint64_t divisor = 1;
            for (int i = 0; i < -shift - 1; ++i)
                divisor *= 10;
            // Divide by 10^(-shift - 1), then the last digit decides rounding.
            mantissa /= divisor;
            const bool up = mantissa % 10 >= 5;
            mantissa = mantissa / 10 + (up ? 1 : 0);
        }
    } else if (roundDigit >= 5) {
        ++mantissa;
    }
    if (mantissa > UINT32_MAX)
        return false;
    count = uint32_t(mantissa);
    return true;
}

// What the system said when a file could not be opened or read.
RecordingReader::Failure cannotRead(const QString &systemReason)
{
    RecordingReader::Failure failure;
    failure.error = RecordingReader::Error::CannotRead;
    failure.systemReason = systemReason;
    return failure;
}

RecordingReader::Failure failureOf(const ZstdReader &reader)
{
    RecordingReader::Failure failure;
    switch (reader.problem()) {
    case ZstdReader::Problem::None:
    case ZstdReader::Problem::System: return cannotRead(reader.detail());
    case ZstdReader::Problem::Cut: failure.error = RecordingReader::Error::CompressedCut; break;
    case ZstdReader::Problem::Corrupt:
        failure.error = RecordingReader::Error::CompressedCorrupt;
        failure.systemReason = reader.detail();
        break;
    }
    return failure;
}

} // namespace

// Where the needed columns are, from the header.
struct RecordingReader::Columns
{
    int count = 0;  // columns of the header; a row with fewer is cut
    int utc = -1;
    int value = -1;
    int rate = -1;
    QByteArray rateTexts[4];
};

// Bytes in blocks, from a file or from memory.
class RecordingReader::Source
{
public:
    virtual ~Source() = default;
    virtual qint64 size() const = 0;
    // Up to `max` bytes into `into`; 0 at the end, -1 on an error.
    virtual qint64 read(char *into, qint64 max) = 0;
    virtual bool rewind() = 0;
    // Why the last read, rewind or open failed.
    virtual Failure readFailure() const = 0;
    virtual qint64 blockSize() const = 0;
    // Reads no further than `size` bytes: a file still being recorded is
    // read as far as it was at the first look.
    virtual void limit(qint64 size) { (void)size; }
};

class RecordingReader::FileSource : public RecordingReader::Source
{
public:
    explicit FileSource(const QString &path) : m_file(path) {}
    bool open()
    {
        // Unbuffered: the blocks go straight into the reader's buffer.
        if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        // A file still being recorded is read as far as it was at the start.
        m_size = m_file.size();
        return true;
    }
    qint64 size() const override { return m_size; }
    qint64 read(char *into, qint64 max) override
    {
        max = std::min(max, m_size - m_done);
        if (max <= 0)
            return 0;
        const qint64 n = m_file.read(into, max);
        if (n > 0)
            m_done += n;
        return n;
    }
    bool rewind() override
    {
        m_done = 0;
        return m_file.seek(0);
    }
    Failure readFailure() const override { return cannotRead(m_file.errorString()); }
    qint64 blockSize() const override { return FileBlockSize; }
    void limit(qint64 size) override { m_size = std::min(m_size, size); }

private:
    QFile m_file;
    qint64 m_size = 0;
    qint64 m_done = 0;
};

class RecordingReader::MemorySource : public RecordingReader::Source
{
public:
    MemorySource(const char *data, qint64 size, qint64 block) : m_data(data), m_size(size), m_block(block) {}
    qint64 size() const override { return m_size; }
    qint64 read(char *into, qint64 max) override
    {
        const qint64 n = std::min(max, m_size - m_done);
        if (n > 0)
            std::memcpy(into, m_data + m_done, size_t(n));
        m_done += std::max<qint64>(n, 0);
        return std::max<qint64>(n, 0);
    }
    bool rewind() override
    {
        m_done = 0;
        return true;
    }
    Failure readFailure() const override { return cannotRead(QString()); }
    qint64 blockSize() const override { return m_block; }

private:
    const char *m_data;
    qint64 m_size;
    qint64 m_block;
    qint64 m_done = 0;
};

// A compressed recording, its plain bytes in blocks as from a plain file.
class RecordingReader::ZstdSource : public RecordingReader::Source
{
public:
    explicit ZstdSource(const QString &path) : m_reader(path), m_compressedSize(QFileInfo(path).size()) {}
    bool open() { return m_reader.open(); }
    // Only for the progress shown; the compressed size when the frame keeps
    // no plain size, which is never zero for a file that is not empty.
    qint64 size() const override { return m_reader.plainSize() >= 0 ? m_reader.plainSize() : m_compressedSize; }
    qint64 read(char *into, qint64 max) override { return m_reader.read(into, max); }
    bool rewind() override { return m_reader.rewind(); }
    Failure readFailure() const override { return failureOf(m_reader); }
    qint64 blockSize() const override { return FileBlockSize; }

private:
    ZstdReader m_reader;
    qint64 m_compressedSize = 0;
};

RecordingReader::RecordingReader(const std::atomic<bool> *cancel) : m_cancel(cancel) {}

RecordingReader::~RecordingReader() = default;

void RecordingReader::setProgressHandler(std::function<void(qint64, qint64)> handler)
{
    m_progress = std::move(handler);
}

std::unique_ptr<ReportHistory> RecordingReader::takeHistory()
{
    return std::move(m_history);
}

bool RecordingReader::fail(Error error)
{
    Failure failure;
    failure.error = error;
    return fail(failure);
}

bool RecordingReader::fail(const Failure &failure)
{
    m_failure = failure;
    m_history.reset();
    return false;
}

bool RecordingReader::readFile(const QString &path)
{
    m_failedFile.clear();
    const std::unique_ptr<Source> source = openSource(path);
    return (source && read(*source)) || failIn(path);
}

bool RecordingReader::looksLikeRecording(const QString &path, Failure &reason)
{
    reason = Failure();
    if (QFileInfo(path).isDir()) {
        reason.error = Error::IsDirectory;
        return false;
    }
    QByteArray start;
    if (ZstdReader::isCompressedName(path)) {
        ZstdReader zstd(path);
        start.resize(MaxLineLength + 1);
        const qint64 n = zstd.open() ? zstd.read(start.data(), start.size()) : -1;
        if (n <= 0) {
            if (n == 0)
                reason.error = Error::Empty;
            else
                reason = failureOf(zstd);
            return false;
        }
        start.truncate(int(n));
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            reason = cannotRead(file.errorString());
            return false;
        }
        start = file.read(MaxLineLength + 1);
        if (start.isEmpty()) {
            if (file.error() == QFileDevice::NoError)
                reason.error = Error::Empty;
            else
                reason = cannotRead(file.errorString());
            return false;
        }
    }
    int lineEnd = start.indexOf('\n');
    if (lineEnd < 0 && start.size() > MaxLineLength) {
        reason.error = Error::NoHeader;
        return false;
    }
    if (lineEnd < 0)
        lineEnd = start.size();
    if (lineEnd > 0 && start.at(lineEnd - 1) == '\r')
        --lineEnd;
    RecordingReader reader;
    if (!reader.takeHeader(start.constData(), start.constData() + lineEnd)) {
        reason = reader.failure();
        return false;
    }
    return true;
}

bool RecordingReader::readBytes(const char *data, qint64 size, qint64 blockSize)
{
    MemorySource source(data, size, blockSize > 0 ? blockSize : std::clamp<qint64>(size, 1, FileBlockSize));
    return read(source);
}

bool RecordingReader::read(Source &source)
{
    m_columns.reset();
    m_history.reset();
    m_rows = m_skipped = 0;
    m_failure = Failure();
    m_failedFile.clear();

    const qint64 total = source.size();
    if (total == 0)
        return fail(Error::Empty);
    std::vector<char> buffer(size_t(source.blockSize() + MaxLineLength + 1));
    // First the lines, counted: the history is made for exactly as many
    // rows, and a file too long is refused before memory is taken for it.
    qint64 lines = 0, done = 0;
    if (!countLines(source, buffer, lines, done, total))
        return false;
    if (done == 0)
        return fail(Error::Empty);
    if (lines - 1 > MaxRows)
        return failTooMany(lines - 1);
    m_history = std::make_unique<ReportHistory>(std::max<qint64>(1, lines - 1));
    if (!source.rewind())
        return fail(source.readFailure());
    done = 0;
    return parseRows(source, buffer, done, total);
}

bool RecordingReader::failTooMany(qint64 rows)
{
    Failure tooMany;
    tooMany.error = Error::TooManyRows;
    tooMany.rows = rows;
    return fail(tooMany);
}

void RecordingReader::progress(qint64 counted, qint64 parsed, qint64 total)
{
    // The count pass is a tenth of the work shown, the parse the rest.
    if (m_progress)
        m_progress(counted / 10 + parsed - parsed / 10, total);
}

bool RecordingReader::cancelled() const
{
    return m_cancel && m_cancel->load(std::memory_order_relaxed);
}

bool RecordingReader::countLines(Source &source, std::vector<char> &buffer, qint64 &lines, qint64 &done, qint64 total,
                                 qint64 *firstMs)
{
    const qint64 block = source.blockSize();
    const qint64 start = done;
    char lastByte = '\n';
    for (bool first = true;; first = false) {
        if (cancelled())
            return fail(Error::Cancelled);
        const qint64 n = source.read(buffer.data(), block);
        if (n < 0)
            return fail(source.readFailure());
        if (n == 0)
            break;
        for (const char *p = buffer.data(), *end = p + n;
             (p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)))); ++p)
            ++lines;
        if (first && firstMs) {
            // The time of the first row that parses, from the first whole
            // lines: what puts several files in time order.
            const char *b = buffer.data();
            const char *e = b + std::min<qint64>(n, 1 << 16);
            while (e > b && e[-1] != '\n')
                --e;
            RecordingReader probe;
            if (e > b && probe.readBytes(b, e - b) && probe.m_history->size() > 0)
                *firstMs = probe.m_history->timeAt(probe.m_history->firstIndex());
        }
        lastByte = buffer[size_t(n - 1)];
        done += n;
        progress(done, 0, total);
    }
    if (done > start && lastByte != '\n')
        ++lines;
    return true;
}

bool RecordingReader::parseRows(Source &source, std::vector<char> &buffer, qint64 &done, qint64 total)
{
    // Each file names its own columns in its first line.
    m_columns.reset();
    const qint64 block = source.blockSize();
    // The rows, block by block; a line cut by a block's end moves to the
    // front of the buffer and is completed by the next block.
    qint64 carried = 0;
    bool discarding = false;  // inside a line too long to be a row
    for (;;) {
        if (cancelled())
            return fail(Error::Cancelled);
        const qint64 n = source.read(buffer.data() + carried, block);
        if (n < 0)
            return fail(source.readFailure());
        done += n;
        const bool atEnd = n == 0;
        const char *begin = buffer.data();
        const char *end = begin + carried + n;
        if (discarding) {
            const char *newline = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
            discarding = !newline && !atEnd;
            begin = newline ? newline + 1 : end;
        }
        const char *rest = parseLines(begin, end, atEnd);
        if (failed())
            return false;
        carried = end - rest;
        if (carried > MaxLineLength) {
            if (!m_columns)
                return fail(Error::NoHeader);
            ++m_skipped;
            discarding = true;
            carried = 0;
        } else if (carried > 0) {
            std::memmove(buffer.data(), rest, size_t(carried));
        }
        progress(total, done, total);
        if (atEnd)
            break;
    }
    if (!m_columns)
        return fail(Error::NoHeader);
    return true;
}

std::unique_ptr<RecordingReader::Source> RecordingReader::openSource(const QString &path)
{
    if (QFileInfo(path).isDir()) {
        fail(Error::IsDirectory);
        return nullptr;
    }
    if (ZstdReader::isCompressedName(path)) {
        auto source = std::make_unique<ZstdSource>(path);
        if (source->open())
            return source;
        fail(source->readFailure());
        return nullptr;
    }
    auto source = std::make_unique<FileSource>(path);
    if (source->open())
        return source;
    fail(source->readFailure());
    return nullptr;
}

bool RecordingReader::readFiles(const QStringList &paths)
{
    m_columns.reset();
    m_history.reset();
    m_rows = m_skipped = 0;
    m_failure = Failure();
    m_failedFile.clear();

    struct Part
    {
        QString path;
        QString stem;     // for a tie: NAME-...Z before NAME-...Z-2
        qint64 rows = 0;  // lines after the header; -1: an empty file
        qint64 firstMs = std::numeric_limits<qint64>::max();  // no row parsed: last
        qint64 size = 0;
    };
    std::vector<Part> parts;
    qint64 total = 0;
    for (const QString &path : paths) {
        Part part;
        part.path = path;
        part.stem = QFileInfo(path).fileName();
        for (const char *suffix : {".zst", ".csv"}) {
            if (part.stem.endsWith(QLatin1String(suffix)))
                part.stem.chop(int(std::strlen(suffix)));
        }
        std::unique_ptr<Source> source = openSource(path);
        if (!source)
            return failIn(path);
        part.size = source->size();
        total += part.size;
        parts.push_back(part);
    }

    // A file is opened again for each pass, so hundreds of files never hold
    // hundreds of descriptors. A plain file the logger compressed meanwhile
    // is read from its compressed copy: the same rows.
    const auto reopen = [this](Part &part) {
        std::unique_ptr<Source> source = openSource(part.path);
        const QString compressed = part.path + QLatin1String(".zst");
        if (!source && m_failure.error == Error::CannotRead && !ZstdReader::isCompressedName(part.path)
            && QFileInfo::exists(compressed)) {
            m_failure = Failure();
            part.path = compressed;
            source = openSource(part.path);
        }
        return source;
    };
    // First each file's lines and first time, then the rows in time order
    // into one history made for all of them.
    std::vector<char> buffer(size_t(FileBlockSize + MaxLineLength + 1));
    qint64 counted = 0, rows = 0;
    for (Part &part : parts) {
        std::unique_ptr<Source> source = reopen(part);
        qint64 lines = 0;
        const qint64 before = counted;
        if (!source || !countLines(*source, buffer, lines, counted, total, &part.firstMs))
            return failIn(part.path);
        part.size = source->size();
        // An empty file holds no rows to lose: a file the logger had only
        // just made when the power went.
        part.rows = counted == before ? -1 : lines - 1;
        rows += std::max<qint64>(part.rows, 0);
    }
    if (rows > MaxRows)
        return failTooMany(rows);
    if (std::all_of(parts.begin(), parts.end(), [](const Part &p) { return p.rows < 0; }))
        return fail(Error::Empty);
    std::stable_sort(parts.begin(), parts.end(), [](const Part &a, const Part &b) {
        return a.firstMs != b.firstMs ? a.firstMs < b.firstMs : a.stem < b.stem;
    });
    m_history = std::make_unique<ReportHistory>(std::max<qint64>(1, rows));
    qint64 parsed = 0;
    for (Part &part : parts) {
        if (part.rows < 0)
            continue;
        std::unique_ptr<Source> source = reopen(part);
        if (source)
            source->limit(part.size);
        if (!source || !parseRows(*source, buffer, parsed, total))
            return failIn(part.path);
    }
    return true;
}

bool RecordingReader::failIn(const QString &path)
{
    m_failedFile = path;
    return false;
}

QStringList RecordingReader::recordingsIn(const QString &dir)
{
    const QDir folder(dir);
    const QStringList names = folder.entryList({QStringLiteral("*.csv"), QStringLiteral("*.csv.zst")},
                                               QDir::Files | QDir::Readable, QDir::Name);
    QStringList paths;
    for (const QString &name : names) {
        // A compression cut after its rename and before the plain file's
        // removal leaves both, each whole: the rows are read once.
        if (name.endsWith(QLatin1String(".zst")) && names.contains(name.left(name.size() - 4)))
            continue;
        paths << folder.filePath(name);
    }
    return paths;
}

const char *RecordingReader::parseLines(const char *begin, const char *end, bool atEnd)
{
    const char *p = begin;
    while (p < end) {
        const char *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!newline && !atEnd)
            return p;
        const char *lineEnd = newline ? newline : end;
        const char *next = newline ? newline + 1 : end;
        const char *contentEnd = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        if (!m_columns) {
            if (lineEnd - p > MaxLineLength)
                fail(Error::NoHeader);
            if (failed() || !takeHeader(p, contentEnd))
                return end;
        } else if (lineEnd - p > MaxLineLength) {
            ++m_skipped;
        } else if (contentEnd > p) {
            // A blank line holds nothing that was lost: not counted.
            parseRow(p, contentEnd);
        }
        p = next;
    }
    return end;
}

bool RecordingReader::takeHeader(const char *begin, const char *end)
{
    if (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
        begin += 3;
    auto columns = std::make_unique<Columns>();
    const char *p = begin;
    for (int index = 0;; ++index) {
        const char *fb = nullptr, *fe = nullptr;
        if (!nextField(p, end, fb, fe)) {
            fail(Error::UnpairedQuotes);
            return false;
        }
        trim(fb, fe);
        const QByteArray name = QByteArray::fromRawData(fb, int(fe - fb));
        int *slot = name == "utc_time" ? &columns->utc : name == "value_v" ? &columns->value
                  : name == "sample_rate" ? &columns->rate : nullptr;
        if (slot && *slot < 0)
            *slot = index;
        columns->count = index + 1;
        if (p == end)
            break;
        ++p;
    }
    if (columns->utc < 0 || columns->value < 0) {
        Failure missing;
        missing.error = Error::MissingColumns;
        if (columns->utc < 0)
            missing.missingColumns << QStringLiteral("utc_time");
        if (columns->value < 0)
            missing.missingColumns << QStringLiteral("value_v");
        fail(missing);
        return false;
    }
    for (int i = 0; i < 4 && i < orvale::sa_table.size(); ++i)
        columns->rateTexts[i] = orvale::sa_table.at(i).toUtf8();
    m_columns = std::move(columns);
    return true;
}

void RecordingReader::parseRow(const char *begin, const char *end)
{
    const Columns &c = *m_columns;
    const char *utcB = nullptr, *utcE = nullptr, *valueB = nullptr, *valueE = nullptr;
    const char *rateB = nullptr, *rateE = nullptr;
    const char *p = begin;
    int index = 0;
    for (;; ++index) {
        const char *fb = nullptr, *fe = nullptr;
        if (!nextField(p, end, fb, fe)) {
            ++m_skipped;
            return;
        }
        if (index == c.utc) {
            utcB = fb;
            utcE = fe;
        } else if (index == c.value) {
            valueB = fb;
            valueE = fe;
        } else if (index == c.rate) {
            rateB = fb;
            rateE = fe;
        }
        if (p == end)
            break;
        ++p;
    }
    // Fewer fields than the header named: a row cut short (a power cut
    // while it was written), whose last field may be cut too.
    qint64 ms = 0;
    uint32_t value = 0;
    if (index + 1 < c.count || !parseUtc(utcB, utcE, ms) || !parseValue(valueB, valueE, value)
        || m_rows >= m_history->capacity()) {
        ++m_skipped;
        return;
    }
    uint8_t code = UnknownRateCode;
    if (rateB) {
        trim(rateB, rateE);
        const int length = int(rateE - rateB);
        bool known = false;
        for (int i = 0; i < 4; ++i) {
            if (c.rateTexts[i].size() == length && std::memcmp(c.rateTexts[i].constData(), rateB, size_t(length)) == 0) {
                code = uint8_t(i);
                known = true;
                break;
            }
        }
        // A code the tables do not know is written as itself ("0x7").
        if (!known && length >= 3 && length <= 4 && rateB[0] == '0' && rateB[1] == 'x') {
            unsigned v = 0;
            bool ok = true;
            for (const char *q = rateB + 2; q < rateE; ++q) {
                const char h = *q;
                const int d = isDigit(h) ? h - '0' : h >= 'A' && h <= 'F' ? h - 'A' + 10 : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
                ok = ok && d >= 0;
                v = v * 16 + unsigned(std::max(d, 0));
            }
            if (ok)
                code = uint8_t(v);
        }
    }
    m_history->append(ms, value, code);
    ++m_rows;
}

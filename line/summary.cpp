// SPDX-License-Identifier: GPL-3.0-or-later
#include "summary.h"

#include "commandline.h"
#include "recordingreader.h"
#include "reporthistory.h"
#include "spananalysis.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvale {

namespace {

// Shortest text that reads back as the same double: full precision without
// the noise digits of a fixed 17; null for what JSON cannot hold.
QByteArray number(double x)
{
    if (!std::isfinite(x))
        return QByteArrayLiteral("null");
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x);
    return QByteArray(text, int(result.ptr - text));
}

QByteArray jsonString(const QString &s)
{
    QByteArray out = "\"";
    for (const char c : s.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray utcText(qint64 ms)
{
    return '"' + QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'")).toLatin1() + '"';
}

// Why the recording could not be read, in the command line's English (the
// window has its own wording).
QString failureText(const RecordingReader::Failure &failure)
{
    using Error = RecordingReader::Error;
    switch (failure.error) {
    case Error::None: return QString();
    case Error::IsDirectory: return QStringLiteral("is a directory");
    case Error::CannotRead: return failure.systemReason;
    case Error::Empty: return QStringLiteral("the file is empty");
    case Error::Cancelled: return QStringLiteral("cancelled");
    case Error::TooManyRows:
        return QStringLiteral("%1 rows, more than the limit of %2").arg(failure.rows).arg(RecordingReader::MaxRows);
    case Error::NoHeader: return QStringLiteral("not a recording: the first line is no line of column names");
    case Error::UnpairedQuotes: return QStringLiteral("not a recording: unpaired quotes in the first line");
    case Error::CompressedCut: return QStringLiteral("the compressed file is cut short");
    case Error::CompressedCorrupt: return QStringLiteral("the compressed data is damaged: ") + failure.systemReason;
    case Error::MissingColumns:
        return QStringLiteral("not a recording: the first line has no %1 %2")
            .arg(failure.missingColumns.join(QLatin1String(" and ")),
                 failure.missingColumns.size() > 1 ? QLatin1String("columns") : QLatin1String("column"));
    }
    return QString();
}

} // namespace

int runSummary(const SummaryOptions &options)
{
    const double fullScaleVolts = options.fullScaleVolts;
    const double spanSeconds = options.spanSeconds;
    const QString &path = options.file;
    RecordingReader reader;
    // The program's own name: the window's and the logger's summaries are one.
    const QByteArray program = QCoreApplication::applicationName().toLocal8Bit();
    if (options.folders && QFileInfo(path).isDir()) {
        // The logger's folder: its rotated files, plain and compressed, as one recording.
        const QStringList files = RecordingReader::recordingsIn(path);
        if (files.isEmpty()) {
            std::fprintf(stderr, "%s: %s: no recordings (.csv or .csv.zst) in the folder\n", program.constData(),
                         qUtf8Printable(path));
            return 1;
        }
        if (!reader.readFiles(files)) {
            std::fprintf(stderr, "%s: %s: %s\n", program.constData(), qUtf8Printable(reader.failedFile()),
                         qUtf8Printable(failureText(reader.failure())));
            return 1;
        }
    } else if (!reader.readFile(path)) {
        std::fprintf(stderr, "%s: %s: %s\n", program.constData(), qUtf8Printable(path),
                     qUtf8Printable(failureText(reader.failure())));
        return 1;
    }
    const std::unique_ptr<ReportHistory> history = reader.takeHistory();

    // The span as the trend window takes it: counted back from the newest report.
    qint64 begin = history->firstIndex();
    const qint64 end = history->endIndex();
    if (spanSeconds > 0 && end > begin)
        begin = history->lowerBound(history->timeAt(end - 1) - qint64(std::llround(spanSeconds * 1000)));
    const SpanStatistics s = history->statistics(begin, end);
    const bool any = s.count > 0;
    const double nan = std::nan("");

    QByteArray json = "{\"file\": " + jsonString(QFileInfo(QDir::cleanPath(path)).fileName());
    const auto add = [&json](const char *key, const QByteArray &value) {
        json += ", \"";
        json += key;
        json += "\": ";
        json += value;
    };
    add("reports", QByteArray::number(s.count));
    add("skipped", QByteArray::number(reader.skippedLines()));
    add("first_utc", any ? utcText(history->timeAt(begin)) : QByteArrayLiteral("null"));
    add("last_utc", any ? utcText(history->timeAt(end - 1)) : QByteArrayLiteral("null"));
    add("rate_per_s", number(s.count > 1 && s.ratePerSecond > 0 ? s.ratePerSecond : nan));
    add("mean_v", number(any ? s.mean : nan));
    // Counts divided by an exact 1e8: the shortest text is the recorded one.
    add("min_v", number(any ? double(s.minCounts) / 1e8 : nan));
    add("max_v", number(any ? double(s.maxCounts) / 1e8 : nan));
    add("rms_uv", number(any ? s.rmsMicrovolts : nan));
    add("peak_to_peak_uv", number(any ? s.peakToPeakMicrovolts : nan));
    add("effective_bits", number(any ? analysis::resolutionBits(fullScaleVolts, s.rmsMicrovolts) : nan));
    add("noise_free_bits", number(any ? analysis::resolutionBits(fullScaleVolts, s.peakToPeakMicrovolts) : nan));
    add("drift_uv_per_min", number(s.driftMicrovoltsPerMinute));
    add("full_scale_v", number(fullScaleVolts));
    add("span_s", spanSeconds > 0 ? number(spanSeconds) : QByteArrayLiteral("null"));
    json += "}\n";
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace orvale

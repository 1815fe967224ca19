// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz harness for the recording reader: any bytes as a recording must give
// a clear result, never a crash, and the same result however the reader's
// blocks fall on them (a line cut by a block's end is the reader's most
// delicate part). Built with libFuzzer under clang (scripts/fuzz
// SECONDS recordingreader), and in every build with the main() below, which
// replays the seed corpus.
//
// Input: byte 0 gives the block size, byte % 64 + 1; the rest is the file.
//
// The compressed road too: the file compressed with zstd and read back
// through it must give exactly what the plain bytes give, the compressed
// file cut short must be refused or read, never taken for more than it
// holds, and the raw bytes taken as a compressed file (hostile data) must
// give a clear result.

#include "recordingreader.h"
#include "reporthistory.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_recordingreader: %s\n", what);
        std::abort();
    }
}

// A .csv.zst file of this process holding `bytes`, for the reader's file road.
QString compressedFile(const QByteArray &bytes)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/fuzz_recordingreader-%1.csv.zst").arg(qint64(getpid()));
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
          "cannot write the compressed file");
    return path;
}

bool sameRecording(RecordingReader &a, RecordingReader &b)
{
    if (!(a.failure() == b.failure()) || a.skippedLines() != b.skippedLines())
        return false;
    const auto x = a.takeHistory(), y = b.takeHistory();
    if (bool(x) != bool(y))
        return false;
    if (!x)
        return true;
    if (x->size() != y->size())
        return false;
    for (qint64 i = x->firstIndex(), j = y->firstIndex(); i < x->endIndex(); ++i, ++j) {
        if (x->timeAt(i) != y->timeAt(j) || x->valueAt(i) != y->valueAt(j) || x->rateCodeAt(i) != y->rateCodeAt(j))
            return false;
    }
    return true;
}

void checkCompressedRoad(const char *file, qint64 length, uint8_t cutAt)
{
    using Error = RecordingReader::Error;
    QByteArray packed(int(ZSTD_compressBound(size_t(length))), Qt::Uninitialized);
    const size_t n = ZSTD_compress(packed.data(), size_t(packed.size()), file, size_t(length), 1);
    check(!ZSTD_isError(n), "zstd cannot compress");
    packed.truncate(int(n));

    RecordingReader plain, unpacked;
    (void)plain.readBytes(file, length);
    (void)unpacked.readFile(compressedFile(packed));
    // An empty plain file compresses to a frame of nothing: empty both ways.
    check(sameRecording(plain, unpacked), "the compressed file reads otherwise than its plain bytes");

    // Cut short: refused as cut or damaged, or read as a shorter recording
    // when the cut falls after whole blocks; never a crash.
    const QByteArray cut = packed.left(int(qint64(packed.size()) * cutAt / 256));
    RecordingReader shortened, whole;
    const bool wholeOk = whole.readBytes(file, length);
    if (shortened.readFile(compressedFile(cut))) {
        const auto rows = shortened.takeHistory(), all = whole.takeHistory();
        check(wholeOk && rows->size() <= all->size(), "a cut compressed file read as more than it holds");
    } else {
        const Error e = shortened.failure().error;
        check(e == Error::CompressedCut || e == Error::CompressedCorrupt || e == Error::Empty || e == Error::NoHeader
                  || e == Error::MissingColumns || e == Error::UnpairedQuotes,
              "a cut compressed file refused for another reason");
    }

    // The raw bytes as a compressed file: hostile data gives a clear result.
    RecordingReader hostile;
    const bool ok = hostile.readFile(compressedFile(QByteArray(file, int(length))));
    check(ok == (hostile.failure().error == Error::None), "a compressed file's failure without a reason");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint64 block = data[0] % 64 + 1;
    const char *file = reinterpret_cast<const char *>(data + 1);
    const qint64 length = qint64(size - 1);
    checkCompressedRoad(file, length, data[0]);

    RecordingReader whole, pieces;
    const bool wholeOk = whole.readBytes(file, length);
    const bool piecesOk = pieces.readBytes(file, length, block);
    check(wholeOk == piecesOk, "result depends on the block size");
    check(whole.failure() == pieces.failure(), "error depends on the block size");
    check(wholeOk == (whole.failure().error == RecordingReader::Error::None),
          "a failure without a reason, or a reason with success");
    check(whole.skippedLines() == pieces.skippedLines(), "skipped lines depend on the block size");
    const auto a = whole.takeHistory(), b = pieces.takeHistory();
    check(bool(a) == wholeOk && bool(b) == piecesOk, "history and result disagree");
    if (!a)
        return 0;

    const qint64 lines = std::count(file, file + length, '\n') + 1;
    check(a->size() + whole.skippedLines() < lines, "more rows and skipped lines than lines after the header");
    check(a->size() <= a->capacity(), "history dropped rows");
    check(a->size() == b->size(), "row count depends on the block size");
    for (qint64 i = a->firstIndex(); i < a->endIndex(); ++i) {
        check(a->timeAt(i) == b->timeAt(i) && a->valueAt(i) == b->valueAt(i) && a->rateCodeAt(i) == b->rateCodeAt(i),
              "a row depends on the block size");
        check(i == a->firstIndex() || a->timeAt(i) >= a->timeAt(i - 1), "times go back");
    }
    if (a->size() > 0)
        (void)a->statistics(a->firstIndex(), a->endIndex());
    return 0;
}

#include "corpusreplay.h"

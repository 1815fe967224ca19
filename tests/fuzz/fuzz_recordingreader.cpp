// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz harness for the recording reader: any bytes as a recording must give
// a clear result, never a crash, and the same result however the reader's
// blocks fall on them (a line cut by a block's end is the reader's most
// delicate part). Built with libFuzzer under clang (scripts/fuzz
// SECONDS recordingreader), and in every build with the main() below, which
// replays the seed corpus.
//
// Input: byte 0 gives the block size, byte % 64 + 1; the rest is the file.

#include "recordingreader.h"
#include "reporthistory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_recordingreader: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint64 block = data[0] % 64 + 1;
    const char *file = reinterpret_cast<const char *>(data + 1);
    const qint64 length = qint64(size - 1);

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

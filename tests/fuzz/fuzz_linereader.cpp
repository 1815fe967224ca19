// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz harness for the line-protocol reader, which reads payloads off the
// network: any bytes must give reports or counted rejections, never a crash,
// and what it takes must hold. Built with libFuzzer under clang (scripts/fuzz
// SECONDS linereader), and in every build with the main() below, which
// replays the seed corpus.
//
// Input: the payload of two messages, split at the first byte 0xFF (the
// second may repeat the first, as QoS 1 may deliver it).

#include "linereader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_linereader: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *begin = reinterpret_cast<const char *>(data);
    const char *end = begin + size;
    const char *split = std::find(begin, end, '\xff');
    const QByteArray first(begin, int(split - begin));
    const QByteArray second = split == end ? first : QByteArray(split + 1, int(end - split - 1));

    LineReader reader;
    qint64 lastSeq = 0, lastNs = 0, taken = 0;
    for (const QByteArray &payload : {first, second}) {
        const qint64 lines = payload.count('\n') + 1;
        const auto reports = reader.read(payload);
        check(reports.size() <= lines, "more reports than lines");
        for (const auto &report : reports) {
            check(report.seq > 0 && report.timeNs >= 0, "a report without seq or time");
            check(report.seq > lastSeq || report.timeNs > lastNs, "a repeat taken");
            lastSeq = report.seq;
            lastNs = report.timeNs;
            // What was read writes back to a line that reads the same.
            QByteArray again;
            orvale::lineprotocol::appendLine(again, orvale::lineprotocol::escapeTag(report.board), QByteArray(),
                                             report.value, report.seq, report.timeNs);
            orvale::lineprotocol::LineReport back;
            check(orvale::lineprotocol::parseLine(again.constData(), again.constData() + again.size() - 1, back),
                  "a report read does not write back");
            check(back.value == report.value && back.seq == report.seq && back.board == report.board,
                  "a report changes on the way back");
        }
        taken += reports.size();
    }
    check(reader.lost() >= 0 && reader.duplicates() >= 0 && reader.rejectedLines() >= 0, "a negative count");
    check(split != end || taken == 0 || reader.duplicates() > 0 || reader.restarts() > 0,
          "a repeated message taken twice");
    return 0;
}

#include "corpusreplay.h"

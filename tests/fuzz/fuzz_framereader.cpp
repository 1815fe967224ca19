// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz harness for the frame reader and the report texts: any bytes, cut
// into any reads, must yield exactly the frames one scan of the whole stream
// yields, and their texts must read nothing past the code tables. Built
// with libFuzzer under clang (scripts/fuzz), and in every build with the
// main() below, which replays the seed corpus.
//
// Input: byte 0 gives k = byte % 17 read lengths that follow (0 feeds an
// empty read; used in turn, cyclically; none: one read) and m = byte / 17;
// the rest is the stream. With m > 0, each 16-byte window at a multiple of
// 2m + 2 whose first byte is 0x80 or above is sealed with its checksum, so
// that overlapping, adjacent and junk-separated valid frames are easy to reach.

#include "commframe.h"
#include "framereader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

constexpr size_t Frame = 16;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_framereader: %s\n", what);
        std::abort();
    }
}

// Bit-serial CRC-16/MODBUS, apart from the library's loop so that a fault
// there is not copied here.
uint16_t crc(const uint8_t *data, size_t size)
{
    uint16_t reg = 0xFFFF;
    for (size_t i = 0; i < size * 8; ++i) {
        const bool feedback = ((reg ^ (data[i / 8] >> (i % 8))) & 1u) != 0;
        reg = static_cast<uint16_t>((reg >> 1) ^ (feedback ? 0xA001u : 0));
    }
    return reg;
}

bool valid(const uint8_t *w) { return crc(w, Frame - 2) == (w[14] | (w[15] << 8)); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(crc(reinterpret_cast<const uint8_t *>("123456789"), 9) == 0x4B37, "harness CRC");
    if (size == 0)
        return 0;
    const size_t lengthCount = std::min<size_t>(data[0] % 17u, size - 1);
    const size_t stride = data[0] / 17u ? 2u * (data[0] / 17u) + 2u : 0;
    std::vector<uint8_t> stream(data + 1 + lengthCount, data + size);
    for (size_t at = 0; stride && at + Frame <= stream.size(); at += stride) {
        if (stream[at] >= 0x80) {
            const uint16_t sum = crc(&stream[at], Frame - 2);
            stream[at + 14] = uint8_t(sum & 0xFF);
            stream[at + 15] = uint8_t(sum >> 8);
        }
    }

    // The whole stream at once: take a valid frame and jump past it, else step a byte.
    std::vector<size_t> expected;
    for (size_t pos = 0; stream.size() - pos >= Frame; ++pos) {
        if (valid(&stream[pos])) {
            expected.push_back(pos);
            pos += Frame - 1;
        }
    }

    orvale::FrameReader reader;
    size_t fed = 0, next = 0, turn = 0, emptyTurns = 0;
    while (fed < stream.size()) {
        size_t length = stream.size() - fed;
        if (lengthCount && emptyTurns < lengthCount)
            length = std::min<size_t>(data[1 + turn++ % lengthCount], length);
        emptyTurns = length ? 0 : emptyTurns + 1;  // a round of empty reads: the rest in one
        for (const COMM_UART_OBJ &frame :
             reader.feed(QByteArray(reinterpret_cast<const char *>(&stream[fed]), int(length)))) {
            check(next < expected.size() && expected[next] + Frame <= fed + length, "frame not in the stream scan");
            check(std::memcmp(&frame, &stream[expected[next++]], Frame) == 0, "frame differs from the stream's");
            check(orvale::checksumMatches(frame), "library rejects a valid frame");
            (void)orvale::reportTexts(frame);  // under the sanitizers: nothing past a table
        }
        fed += length;
        check(next == expected.size() || expected[next] + Frame > fed, "frame missed");
        check(reader.pendingSize() <= 15, "reader keeps more than 15 bytes");
    }
    check(next == expected.size(), "frames missing at the end");
    return 0;
}

#include "corpusreplay.h"

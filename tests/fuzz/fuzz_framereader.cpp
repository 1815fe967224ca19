// Fuzz harness for the stream frame reader and the report texts. Any bytes,
// cut into any reads, must yield exactly the frames that one scan of the whole
// stream yields, each checksum-valid, with texts a person can trust. Built with
// libFuzzer under clang, and without it as a corpus replay in every build.
//
// Input layout, so that the fuzzer also chooses how the stream is cut:
//   byte 0          k = byte % 17, the number of read lengths that follow;
//                   m = byte / 17, a sealing stride (below)
//   bytes 1..k      read lengths (0 feeds an empty read), used in turn, cyclically
//   the rest        the byte stream
// With no lengths, or only zero ones, what remains goes in as one read.
// A random 16-bit checksum almost never matches, so with m > 0 the harness
// closes, in stream order, each 16-byte window at a multiple of 2m + 2 whose
// first byte is 0x80 or above (as device ids are). That makes streams dense
// with valid frames easy to reach: overlapping ones (strides 4-14, where the
// scan must skip the later frame), adjacent ones (16) and ones with junk
// between (18-32), mixed with windows left as they are.

#include "checksum.h"
#include "commframe.h"
#include "framereader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t Frame = 16;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fputs("fuzz_framereader: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// CRC-16/MODBUS shifted in one input bit at a time, lowest bit first, written
// apart from the library's byte-wise loop so that a fault there is not copied here.
uint16_t bitSerialCrc(const uint8_t *data, size_t size)
{
    uint16_t reg = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool feedback = ((reg ^ (data[i] >> bit)) & 1u) != 0;
            reg = static_cast<uint16_t>(reg >> 1);
            if (feedback)
                reg ^= 0xA001u;
        }
    }
    return reg;
}

bool windowValid(const uint8_t *window)
{
    const uint16_t stored = static_cast<uint16_t>(window[14] | (window[15] << 8));
    return bitSerialCrc(window, Frame - 2) == stored;
}

// The whole stream scanned at once: at each position take a valid frame and jump
// past it, else step one byte. `visited` ends with the position where fewer than
// 16 bytes remain; a reader fed a prefix must keep exactly the bytes from the
// first visited position it cannot decide yet.
struct Reference
{
    std::vector<size_t> frames;
    std::vector<size_t> visited;
};

Reference referenceScan(const uint8_t *stream, size_t size)
{
    Reference ref;
    size_t pos = 0;
    while (size - pos >= Frame) {
        ref.visited.push_back(pos);
        if (windowValid(stream + pos)) {
            ref.frames.push_back(pos);
            pos += Frame;
        } else {
            ++pos;
        }
    }
    ref.visited.push_back(pos);
    return ref;
}

QString hexText(unsigned code)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%X", code);
    return QString::fromLatin1(text);
}

void checkCodeText(const char *tableName, const QStringList &table, uint8_t code)
{
    const QString text = orvale::codeText(table, code);
    uint8_t back = 0x5A;
    if (code < table.size()) {
        if (text != table.at(code))
            fail("%s code %u shows \"%s\"", tableName, code, qPrintable(text));
        if (!orvale::textToCode(table, text, back) || back != code)
            fail("%s text \"%s\" does not map back to %u", tableName, qPrintable(text), code);
    } else {
        if (text != hexText(code))
            fail("%s out-of-table code %u shows \"%s\"", tableName, code, qPrintable(text));
        // A hex stand-in must never be taken for a table entry when a command is built.
        if (orvale::textToCode(table, text, back) || back != 0x5A)
            fail("%s stand-in \"%s\" matched a table entry", tableName, qPrintable(text));
    }
}

void checkValueText(const QString &text, uint32_t value)
{
    char expected[32];
    std::snprintf(expected, sizeof expected, "%u.%08u", value / 100000000u, value % 100000000u);
    if (text != QLatin1String(expected))
        fail("value %u shows \"%s\", expected \"%s\"", value, qPrintable(text), expected);
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || parsed != static_cast<double>(value) / 1e8)
        fail("value text \"%s\" does not parse back to %u / 1e8", qPrintable(text), value);
}

void checkTexts(const COMM_UART_OBJ &frame)
{
    const orvale::ReportTexts texts = orvale::reportTexts(frame);
    checkValueText(texts.value, frame.value);
    if (texts.deviceId != hexText(frame.dev_id) || orvale::deviceIdText(frame.dev_id) != texts.deviceId)
        fail("device id %u shows \"%s\"", frame.dev_id, qPrintable(texts.deviceId));
    if (texts.channel != orvale::codeText(orvale::ch_table, frame.ch_code)
        || texts.sampleRate != orvale::codeText(orvale::sa_table, frame.sa_code)
        || texts.filter != orvale::codeText(orvale::fil_table, frame.fil_code))
        fail("report texts disagree with the code tables");

    // Every code byte against every table, so out-of-table codes reach each one.
    for (uint8_t code : {frame.dev_id, frame.sa_code, frame.fil_code, frame.ch_code}) {
        checkCodeText("channel", orvale::ch_table, code);
        checkCodeText("sample rate", orvale::sa_table, code);
        checkCodeText("filter", orvale::fil_table, code);
        checkCodeText("device", orvale::id_table, code);
    }
}

void checkFrameChecksum(const COMM_UART_OBJ &frame, bool expectValid)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(&frame);
    const bool independent = windowValid(bytes);
    if (orvale::checksumMatches(frame) != independent || independent != expectValid)
        fail("checksum verdicts differ: library %d, harness %d, expected %d",
             int(orvale::checksumMatches(frame)), int(independent), int(expectValid));
}

void checkKnownAnswer()
{
    // Guards the harness itself: a wrong reference would make every verdict meaningless.
    static const bool checked = [] {
        const char *check = "123456789";
        if (bitSerialCrc(reinterpret_cast<const uint8_t *>(check), 9) != 0x4B37)
            fail("harness CRC misses the 0x4B37 check value");
        return true;
    }();
    (void)checked;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkKnownAnswer();
    if (size == 0)
        return 0;

    const size_t lengthCount = std::min<size_t>(data[0] % 17u, size - 1);
    const size_t sealStride = data[0] / 17u == 0 ? 0 : 2u * (data[0] / 17u) + 2u;
    const uint8_t *lengths = data + 1;
    std::vector<uint8_t> streamBytes(data + 1 + lengthCount, data + size);
    const size_t streamSize = streamBytes.size();
    if (sealStride != 0) {
        // Later seals touch only bytes 14-15 of their own window, which lie
        // past the earlier windows for every stride used, so all stay valid.
        for (size_t at = 0; at + Frame <= streamSize; at += sealStride) {
            uint8_t *window = streamBytes.data() + at;
            if (window[0] < 0x80)
                continue;
            const uint16_t crc = bitSerialCrc(window, Frame - 2);
            window[14] = static_cast<uint8_t>(crc & 0xFF);
            window[15] = static_cast<uint8_t>(crc >> 8);
        }
    }
    const uint8_t *stream = streamBytes.data();

    const Reference ref = referenceScan(stream, streamSize);

    orvale::FrameReader reader;
    size_t fed = 0;
    size_t nextFrame = 0;
    size_t undecided = 0; // index into ref.visited

    auto feedRead = [&](size_t length) {
        const QByteArray read(reinterpret_cast<const char *>(stream + fed), static_cast<int>(length));
        const std::vector<COMM_UART_OBJ> frames = reader.feed(read);
        fed += length;

        for (const COMM_UART_OBJ &frame : frames) {
            if (nextFrame >= ref.frames.size() || ref.frames[nextFrame] + Frame > fed)
                fail("reader returned a frame the whole-stream scan has not completed by byte %zu", fed);
            if (std::memcmp(&frame, stream + ref.frames[nextFrame], Frame) != 0)
                fail("frame %zu differs from the one at stream offset %zu", nextFrame, ref.frames[nextFrame]);
            checkFrameChecksum(frame, true);
            checkTexts(frame);
            ++nextFrame;
        }
        if (nextFrame < ref.frames.size() && ref.frames[nextFrame] + Frame <= fed)
            fail("reader missed the frame at stream offset %zu after %zu bytes", ref.frames[nextFrame], fed);

        const int pending = reader.pendingSize();
        if (pending < 0 || pending > 15)
            fail("reader keeps %d bytes", pending);
        while (ref.visited[undecided] + Frame <= fed)
            ++undecided;
        if (static_cast<size_t>(pending) != fed - ref.visited[undecided])
            fail("reader keeps %d bytes after %zu, the scan leaves %zu undecided", pending, fed,
                 fed - ref.visited[undecided]);
    };

    // Lengths are used in turn until the stream runs out; a whole round of empty
    // reads would never end, so what is left then goes in as one read.
    bool progressed = lengthCount > 0;
    while (fed < streamSize && progressed) {
        progressed = false;
        for (size_t i = 0; i < lengthCount && fed < streamSize; ++i) {
            const size_t length = std::min<size_t>(lengths[i], streamSize - fed);
            feedRead(length);
            progressed = progressed || length > 0;
        }
    }
    if (fed < streamSize)
        feedRead(streamSize - fed);
    if (nextFrame != ref.frames.size())
        fail("reader returned %zu frames, the whole-stream scan %zu", nextFrame, ref.frames.size());

    // Texts and checksum verdicts for bytes the reader would never pass on, too.
    if (streamSize >= Frame) {
        COMM_UART_OBJ first = orvale::frameFromBytes(reinterpret_cast<const char *>(stream));
        checkFrameChecksum(first, windowValid(stream));
        checkTexts(first);
        orvale::sealFrame(first);
        checkFrameChecksum(first, true);
    }
    return 0;
}

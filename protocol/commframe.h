// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// One 16-byte frame as it travels on the line, in both directions. Its bytes
// in memory are its bytes on the wire: the checksum is computed over them and
// a command is written straight from them.
struct COMM_UART_OBJ
{
    uint8_t dev_id;
    uint8_t echo_head[3];
    uint8_t sa_code;
    uint8_t fil_code;
    uint8_t reserved;
    uint8_t ch_code;
    uint32_t value;      // count of 1e-8 units, little-endian
    uint16_t echo_tail;  // little-endian
    uint16_t crc;        // CRC-16/MODBUS of bytes 0-13, low byte first
};

// A build that would pad the record or store its fields in another byte order
// would send wrong bytes to the board; stop such a build here instead.
static_assert(sizeof(COMM_UART_OBJ) == 16, "a frame is exactly 16 bytes");
static_assert(std::is_trivially_copyable<COMM_UART_OBJ>::value, "a frame is copied as raw bytes");
static_assert(offsetof(COMM_UART_OBJ, dev_id) == 0, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, echo_head) == 1, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, sa_code) == 4, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, fil_code) == 5, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, reserved) == 6, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, ch_code) == 7, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, value) == 8, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, echo_tail) == 12, "frame layout");
static_assert(offsetof(COMM_UART_OBJ, crc) == 14, "frame layout");
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the frame's multi-byte fields are little-endian in memory");

Q_DECLARE_METATYPE(COMM_UART_OBJ)

namespace orvale {

constexpr int FrameSize = 16;

// Bytes 4-7 of a frame: sample rate, filter, reserved, channel. Always moved
// as one unit.
using SettingsGroup = std::array<uint8_t, 4>;
enum SettingsByte { SettingsSampleRate = 0, SettingsFilter = 1, SettingsReserved = 2, SettingsChannel = 3 };

// Process-wide records, zero at start, touched only on the GUI thread.
extern COMM_UART_OBJ recv_obj;   // newest valid report
extern COMM_UART_OBJ send_obj;   // newest command
extern SettingsGroup apply_set;  // codes chosen at the applies so far
extern SettingsGroup dev_set;    // settings group of the newest valid report

// Code tables: display text indexed by one-byte code.
extern const QStringList fil_table;
extern const QStringList sa_table;
extern const QStringList ch_table;
extern const QStringList id_table;

// Samples a second of each sample-rate code, in sa_table's order: the one
// place the rates are written as numbers, for the analyses, the simulated
// board and whatever else needs a rate from a code.
constexpr std::array<int, 4> SampleRates = {4, 10, 62, 123};
// Samples a second of a sample-rate code; 0 for a code outside the table.
[[nodiscard]] constexpr int samplesPerSecond(uint8_t code)
{
    return code < SampleRates.size() ? SampleRates[code] : 0;
}

// Registers the frame type under the name "COMM_UART_OBJ"; returns its id.
int registerFrameMetaType();

// The record's 16 bytes, copied.
[[nodiscard]] QByteArray frameBytes(const COMM_UART_OBJ &frame);
// A record from the first 16 bytes at `data`, which must hold that many.
[[nodiscard]] COMM_UART_OBJ frameFromBytes(const char *data);
[[nodiscard]] SettingsGroup settingsOf(const COMM_UART_OBJ &frame);

// True when bytes 14-15 hold the checksum of bytes 0-13.
[[nodiscard]] bool checksumMatches(const COMM_UART_OBJ &frame);
// Stores the checksum of bytes 0-13 into bytes 14-15.
void sealFrame(COMM_UART_OBJ &frame);

// Code to text. A code beyond the table shows as the code itself ("0x7"),
// so the operator sees that the board reported something this tool does not
// know, and nothing past the table is ever read.
[[nodiscard]] QString codeText(const QStringList &table, uint8_t code);
// Text to code by exact, case-sensitive match. Where nothing matches the
// destination keeps its previous value, so an earlier choice is sent again.
bool textToCode(const QStringList &table, const QString &text, uint8_t &code);

// "0x" and upper-case hex digits without padding: 0xA1, 0x5.
[[nodiscard]] QString deviceIdText(uint8_t devId);
// value / 1e8 with eight decimals; unsigned over the full 32-bit range.
[[nodiscard]] QString valueText(uint32_t value);

// Everything the window shows of one report.
struct ReportTexts
{
    QString value;
    QString deviceId;
    QString channel;
    QString sampleRate;
    QString filter;
};
[[nodiscard]] ReportTexts reportTexts(const COMM_UART_OBJ &report);

// Takes a checksum-valid report as the newest one: recv_obj and dev_set.
void acceptReport(const COMM_UART_OBJ &report);

// Builds the command into send_obj from the four selected texts, apply_set
// and the newest report, closes it with its checksum, and returns it.
const COMM_UART_OBJ &buildCommand(const QString &sampleRateText, const QString &filterText,
                                  const QString &channelText, const QString &deviceText);

} // namespace orvale

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commframe.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Reports as lines of the time-series line protocol, one per report:
//   orvale,board=B,device=D,channel=C,sample_rate=S,filter=F value=V,seq=Ni T
// in the texts the window shows, the value in volts exact to the count, the
// time in nanoseconds since the epoch (UTC). Lab tools read these lines as
// they are, so their text is fixed here and nowhere else.
namespace orvale::lineprotocol {

constexpr char Measurement[] = "orvale";

// One report read back from a line.
struct LineReport
{
    qint64 timeNs = 0;
    qint64 seq = 0;
    uint32_t value = 0;  // counts of 1e-8 V
    QString board;
    QString device;
    QString channel;
    QString sampleRate;
    QString filter;
};

// A tag's text with the line protocol's separators (comma, space, equals
// sign) and the backslash escaped; line ends, which no escape carries, as
// escaped spaces.
[[nodiscard]] QByteArray escapeTag(const QString &text);
// counts / 1e8 with eight decimals, by integer arithmetic: 412345678 ->
// "4.12345678", the same digits as the window's display.
[[nodiscard]] QByteArray voltsText(uint32_t counts);
// The tags' part after the board: ",device=...,channel=...,..."; the same for
// every report of one setting, so a caller may keep it while the codes stay.
[[nodiscard]] QByteArray settingsTags(const COMM_UART_OBJ &report);
// One whole line with its '\n'. `boardTag` is escapeTag(board), empty for
// no board tag (a tag's value may not be empty).
void appendLine(QByteArray &out, const QByteArray &boardTag, const QByteArray &settings, uint32_t value,
                qint64 seq, qint64 timeNs);

// Reads one line (without its '\n') of measurement "orvale". Tags and fields
// in any order and unknown ones are accepted; a line of another measurement,
// without value, seq or time, or with a value that is not a whole number of
// counts in range, is not. False leaves `out` in an unspecified state.
[[nodiscard]] bool parseLine(const char *begin, const char *end, LineReport &out);

} // namespace orvale::lineprotocol

// SPDX-License-Identifier: GPL-3.0-or-later
#include "lineprotocol.h"

#include <limits>

namespace orvale::lineprotocol {

QByteArray escapeTag(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        switch (c) {
        case ',': case ' ': case '=': case '\\':
            out += '\\';
            out += c;
            break;
        case '\n': case '\r': case '\t':
            out += "\\ ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray voltsText(uint32_t counts)
{
    char text[16];
    uint32_t fraction = counts % 100000000u;
    uint32_t whole = counts / 100000000u;  // at most 42
    int at = 0;
    if (whole >= 10)
        text[at++] = char('0' + whole / 10);
    text[at++] = char('0' + whole % 10);
    text[at++] = '.';
    for (int i = at + 7; i >= at; --i) {
        text[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return QByteArray(text, at + 8);
}

QByteArray settingsTags(const COMM_UART_OBJ &report)
{
    const ReportTexts texts = reportTexts(report);
    return ",device=" + escapeTag(texts.deviceId) + ",channel=" + escapeTag(texts.channel)
           + ",sample_rate=" + escapeTag(texts.sampleRate) + ",filter=" + escapeTag(texts.filter);
}

void appendLine(QByteArray &out, const QByteArray &boardTag, const QByteArray &settings, uint32_t value,
                qint64 seq, qint64 timeNs)
{
    out += Measurement;
    if (!boardTag.isEmpty()) {
        out += ",board=";
        out += boardTag;
    }
    out += settings;
    out += " value=";
    out += voltsText(value);
    out += ",seq=";
    out += QByteArray::number(seq);
    out += "i ";
    out += QByteArray::number(timeNs);
    out += '\n';
}

namespace {

// The next unescaped `stop` (or either of two) from `p`, or `end`.
const char *scan(const char *p, const char *end, char stop1, char stop2)
{
    while (p < end && *p != stop1 && *p != stop2) {
        if (*p == '\\' && p + 1 < end)
            ++p;
        ++p;
    }
    return p;
}

QString unescape(const char *begin, const char *end)
{
    QByteArray bytes;
    bytes.reserve(int(end - begin));
    for (const char *p = begin; p < end; ++p) {
        if (*p == '\\' && p + 1 < end && (p[1] == ',' || p[1] == ' ' || p[1] == '=' || p[1] == '\\'))
            ++p;
        // As the writer does: white space that is not a space reads as one.
        bytes += (*p == '\r' || *p == '\t') ? ' ' : *p;
    }
    return QString::fromUtf8(bytes);
}

// Decimal digits to a non-negative number no larger than `limit`.
bool parseDigits(const char *begin, const char *end, qint64 limit, qint64 &out)
{
    if (begin == end)
        return false;
    qint64 value = 0;
    for (const char *p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const int digit = *p - '0';
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// Volts as written ("4.12345678", "4.1", "4") to counts, exactly; more than
// eight decimals only when the extra ones are zeros.
bool parseVolts(const char *begin, const char *end, uint32_t &out)
{
    const char *dot = begin;
    while (dot < end && *dot != '.')
        ++dot;
    qint64 whole = 0;
    if (!parseDigits(begin, dot, 100, whole))
        return false;
    qint64 counts = whole * 100000000;
    if (dot < end) {
        const char *digits = dot + 1;
        if (digits == end)
            return false;
        qint64 scale = 10000000;
        for (const char *p = digits; p < end; ++p) {
            if (*p < '0' || *p > '9')
                return false;
            if (scale == 0) {
                if (*p != '0')
                    return false;
                continue;
            }
            counts += (*p - '0') * scale;
            scale /= 10;
        }
    }
    if (counts > std::numeric_limits<uint32_t>::max())
        return false;
    out = uint32_t(counts);
    return true;
}

} // namespace

bool parseLine(const char *begin, const char *end, LineReport &out)
{
    if (end > begin && end[-1] == '\r')
        --end;
    const char *p = scan(begin, end, ',', ' ');
    if (QByteArray::fromRawData(begin, int(p - begin)) != Measurement)
        return false;
    out = LineReport();
    while (p < end && *p == ',') {  // tags
        const char *key = p + 1;
        const char *eq = scan(key, end, '=', ' ');
        if (eq >= end || *eq != '=')
            return false;
        const char *valueEnd = scan(eq + 1, end, ',', ' ');
        const QByteArray name = QByteArray::fromRawData(key, int(eq - key));
        QString *tag = name == "board" ? &out.board
                       : name == "device" ? &out.device
                       : name == "channel" ? &out.channel
                       : name == "sample_rate" ? &out.sampleRate
                       : name == "filter" ? &out.filter : nullptr;
        if (tag)
            *tag = unescape(eq + 1, valueEnd);
        p = valueEnd;
    }
    if (p >= end || *p != ' ')
        return false;
    bool haveValue = false, haveSeq = false;
    do {  // fields
        const char *key = p + 1;
        const char *eq = scan(key, end, '=', ' ');
        if (eq >= end || *eq != '=')
            return false;
        const char *valueBegin = eq + 1;
        const char *valueEnd = valueBegin;
        if (valueEnd < end && *valueEnd == '"') {  // a string field: skip it whole
            ++valueEnd;
            while (valueEnd < end && *valueEnd != '"')
                valueEnd += (*valueEnd == '\\' && valueEnd + 1 < end) ? 2 : 1;
            if (valueEnd >= end)
                return false;
            ++valueEnd;
        } else {
            valueEnd = scan(valueBegin, end, ',', ' ');
        }
        const QByteArray name = QByteArray::fromRawData(key, int(eq - key));
        if (name == "value") {
            haveValue = parseVolts(valueBegin, valueEnd, out.value);
            if (!haveValue)
                return false;
        } else if (name == "seq") {
            haveSeq = valueEnd > valueBegin && valueEnd[-1] == 'i'
                      && parseDigits(valueBegin, valueEnd - 1, std::numeric_limits<qint64>::max(), out.seq)
                      && out.seq > 0;
            if (!haveSeq)
                return false;
        }
        p = valueEnd;
    } while (p < end && *p == ',');
    if (!haveValue || !haveSeq || p >= end || *p != ' ')
        return false;
    return parseDigits(p + 1, end, std::numeric_limits<qint64>::max(), out.timeNs);
}

} // namespace orvale::lineprotocol

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// When the logger begins a new file: at each UTC hour or day, or before a
// file would pass a size. A value, parsed once from the operator's text.
class Rotation
{
public:
    enum class Kind { Hourly, Daily, Size };

    // "hourly", "daily" or a size ("64M"); nothing for anything else.
    [[nodiscard]] static std::optional<Rotation> parse(const QString &text);
    // Bytes with an optional k, M or G (binary multiples): "4096", "64M".
    // Nothing for zero, a negative, an overflow or another suffix.
    [[nodiscard]] static std::optional<qint64> parseSize(const QString &text);

    static Rotation hourly() { return Rotation(Kind::Hourly, 0); }
    static Rotation daily() { return Rotation(Kind::Daily, 0); }
    static Rotation bySize(qint64 bytes) { return Rotation(Kind::Size, bytes); }

    Kind kind() const { return m_kind; }
    // The most a file may hold for Kind::Size; 0 otherwise.
    qint64 maxBytes() const { return m_maxBytes; }
    // Which UTC hour or day a time falls in (always 0 for Kind::Size): a row
    // whose period is later than its file's begins a new file.
    qint64 period(qint64 utcMs) const;

private:
    Rotation(Kind kind, qint64 maxBytes) : m_kind(kind), m_maxBytes(maxBytes) {}

    Kind m_kind = Kind::Daily;
    qint64 m_maxBytes = 0;
};

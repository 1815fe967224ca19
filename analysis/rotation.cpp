// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotation.h"

#include <limits>

std::optional<Rotation> Rotation::parse(const QString &text)
{
    if (text == QLatin1String("hourly"))
        return hourly();
    if (text == QLatin1String("daily"))
        return daily();
    if (const auto bytes = parseSize(text))
        return bySize(*bytes);
    return std::nullopt;
}

std::optional<qint64> Rotation::parseSize(const QString &text)
{
    QString digits = text.trimmed();
    qint64 unit = 1;
    if (!digits.isEmpty()) {
        switch (digits.back().unicode()) {
        case 'k': case 'K': unit = qint64(1) << 10; break;
        case 'M': unit = qint64(1) << 20; break;
        case 'G': unit = qint64(1) << 30; break;
        default: break;
        }
        if (unit > 1)
            digits.chop(1);
    }
    // Digits only: toLongLong would take a sign, spaces or 0x.
    if (digits.isEmpty() || digits.size() > 18)
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const qint64 count = digits.toLongLong();
    if (count <= 0 || count > std::numeric_limits<qint64>::max() / unit)
        return std::nullopt;
    return count * unit;
}

qint64 Rotation::period(qint64 utcMs) const
{
    const qint64 length = m_kind == Kind::Hourly ? 3600000 : m_kind == Kind::Daily ? 86400000 : 0;
    if (length == 0)
        return 0;
    // Floor, so a time before 1970 (a clock not yet set) still orders right.
    return utcMs >= 0 ? utcMs / length : -((-utcMs + length - 1) / length);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysiscsv.h"

#include "spananalysis.h"

#include <QFile>
#include <QChar>

namespace orvale::analysis {

namespace {

// Counts of 10 nV in volts with ten decimals, exactly (no rounding through a
// double): edges written this way are contiguous in the file too.
QString countsAsVolts(qint64 counts)
{
    return QStringLiteral("%1.%2").arg(counts / 100000000).arg(counts % 100000000, 8, 10, QLatin1Char('0'))
        + QStringLiteral("00");
}

// Enough figures that a frequency or τ reads back as the same double, and
// a density to the eight figures its estimate is worth.
QString keyText(double v) { return QString::number(v, 'g', 12); }
QString valueText(double v) { return QString::number(v, 'g', 8); }

} // namespace

QByteArray histogramCsv(const Histogram &h)
{
    QByteArray text = "bin_low_v,bin_high_v,count\n";
    for (int i = 0; i < h.counts.size(); ++i) {
        const qint64 low = h.lowCounts + i * h.binWidthCounts;
        text += (countsAsVolts(low) + QLatin1Char(',') + countsAsVolts(low + h.binWidthCounts) + QLatin1Char(',')
                 + QString::number(h.counts[i]) + QLatin1Char('\n'))
                    .toLatin1();
    }
    return text;
}

QByteArray spectrumCsv(const Spectrum &s)
{
    QByteArray text = "frequency_hz,density_uv_per_sqrt_hz\n";
    for (int i = 0; i < s.frequencyHz.size(); ++i)
        text += (keyText(s.frequencyHz[i]) + QLatin1Char(',') + valueText(s.densityUvPerSqrtHz.value(i))
                 + QLatin1Char('\n'))
                    .toLatin1();
    return text;
}

QByteArray allanCsv(const AllanDeviation &a)
{
    QByteArray text = "tau_s,adev_uv,terms\n";
    for (int i = 0; i < a.tauSeconds.size(); ++i)
        text += (keyText(a.tauSeconds[i]) + QLatin1Char(',') + valueText(a.adevMicrovolts.value(i)) + QLatin1Char(',')
                 + QString::number(a.terms.value(i)) + QLatin1Char('\n'))
                    .toLatin1();
    return text;
}

bool writeCsvFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // A full disk shows only when the buffer goes out.
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace orvale::analysis

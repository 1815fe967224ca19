// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The CSV files the analyses are exported as, beside the recorder's format:
// one header line and a row a bin, frequency or τ, in figures a spreadsheet
// reads back exactly. The window only picks the file.
namespace orvale::analysis {

struct Histogram;
struct Spectrum;
struct AllanDeviation;

// bin_low_v,bin_high_v,count: edges in volts with ten decimals, written
// from the counts exactly, so each bin's high edge is the next one's low.
[[nodiscard]] QByteArray histogramCsv(const Histogram &h);
// frequency_hz,density_uv_per_sqrt_hz
[[nodiscard]] QByteArray spectrumCsv(const Spectrum &s);
// tau_s,adev_uv,terms
[[nodiscard]] QByteArray allanCsv(const AllanDeviation &a);

// Writes `text` as the whole of the file at `path`; false when it cannot be
// opened or not all of it reached the disk (a full disk included).
[[nodiscard]] bool writeCsvFile(const QString &path, const QByteArray &text);

} // namespace orvale::analysis

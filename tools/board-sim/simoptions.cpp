// SPDX-License-Identifier: GPL-3.0-or-later
#include "simoptions.h"

#include <QCommandLineParser>
#include <QLocale>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

constexpr double MaxRate = 100000.0;
constexpr double MinRate = 0.001;
constexpr double MaxDuration = 1.0e6;
constexpr int MaxJunk = 4096;
constexpr double MaxNoise = 100000.0;  // µV: a tenth of a volt is no longer a 24-bit board
constexpr double MaxDrift = 1.0e9;     // µV a minute, either way

const char *const Formats = R"(
Standard output: one line, the path of the board's end of the line (the
pseudo-terminal slave, e.g. /dev/pts/5), printed once the line and the link
are ready.

Standard error, one line per event, bytes as lower-case hex pairs separated
by single spaces:
  seed <N>                      at start: the seed of this run's randomness
  command <16 bytes> applied: id 0x<ID> sa <S> fil <F> ch <C>
                                a checksum-valid command was taken over
  ignored <bytes>               bytes from the line that formed no valid frame,
                                one line per run of them: logged when a valid
                                frame follows, after 100 ms without new bytes,
                                at 256 bytes, or at exit
  report <16 bytes>             with --log-reports: a valid report was written
  report <16 bytes> corrupted   with --log-reports: a report with a flipped bit
  junk <bytes>                  with --log-reports: junk bytes were written
  dropped <N> reports: nobody is reading the line
                                at exit, when reports were not written because
                                the line held too many unread bytes
  nobody read the last <N> bytes; they are lost at exit
                                at a stop by --count or --duration, when no
                                client read the line for 2 s
  sent <N> reports (<M> valid)  at exit
  left <PATH> in place: it is no longer the link to <LINE>
                                at exit, when something replaced the link
  error: <message>              the run failed; the exit status is non-zero

The value, by default: a battery at 3.7 V read by a 24-bit converter, in
counts of 10 nV, rounded and held within 0-42.94967295 V. Each report is one
sample at the rate its sample-rate code names (4, 10, 62, 123 Sa/s; other
codes keep the last of these, 10 at start), whatever pace --rate or --burst
sets, so a seed gives the same values at any pace. It holds:
  white noise  rms = NOISE * sqrt(fs / 10) * k, k by filter code:
               0 none 1, 1 average 0.5, 2 median 0.56, 3 dithering 0.7,
               4 Kalman 0.35 (other codes 1); at the defaults 1.75 uV rms
               (5 uV at 10 Sa/s unfiltered, 17.5 uV at 123 Sa/s unfiltered);
               its density NOISE * k * 0.447 uV/sqrt(Hz) at every rate
  1/f noise    density FLICKER / sqrt(f) uV/sqrt(Hz) from 0.0001 Hz to 1 Hz,
               falling faster above (a sum of nine first-order low-pass
               noises half a decade apart); its Allan deviation is flat at
               1.18 * FLICKER uV, which the defaults reach near 1 s
  drift        the voltage falls by DRIFT uV a minute of samples
Every part may be 0; all three 0 give a steady 3.70000000 V.

A command frame's byte 0 becomes the board's identifier and its bytes 4-7 its
settings (sample rate, filter, reserved, channel); without --rate or --burst
the report rate follows the sample-rate code (0: 4/s, 1: 10/s, 2: 62/s,
3: 123/s; other codes keep the rate, which is 10/s at start).

Writing never waits for a reader: at a set rate, a report that falls due
while 2048 or more bytes lie unread in the line is dropped (counted at exit,
never logged as a report); in burst mode reports are made only as fast as the
line takes them.

Exit status: 0 after a run that ended by --count, --duration or SIGINT/SIGTERM/
SIGHUP; 1 when the line or the link could not be set up; 2 for bad options.
)";

// Accepts decimal or 0x-prefixed hexadecimal, as a byte is usually written.
// A leading zero does not mean octal: "010" is ten, as a user would expect.
std::optional<qint64> parseInteger(const QString &text, qint64 lowest, qint64 highest)
{
    QString digits = text.trimmed();
    int base = 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
    bool ok = false;
    const qint64 number = digits.isEmpty() ? 0 : digits.toLongLong(&ok, base);
    if (!ok || number < lowest || number > highest)
        return std::nullopt;
    return number;
}

// Numbers are read the same way whatever the user's locale is.
std::optional<double> parseReal(const QString &text, double lowest, double highest, bool lowestIncluded)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(number) || number > highest)
        return std::nullopt;
    if (number < lowest || (!lowestIncluded && number == lowest))
        return std::nullopt;
    return number;
}

} // namespace

ParseResult parseSimOptions(const QStringList &arguments, SimOptions &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated 24-bit ADC board on a Linux pseudo-terminal: sends 16-byte report\n"
        "frames and takes over the settings of the command frames it receives."));
    const QCommandLineOption helpOption = parser.addHelpOption();

    const QCommandLineOption idOption(QStringLiteral("id"),
        QStringLiteral("Device identifier, 0-255 (default 0xA1)."), QStringLiteral("ID"));
    const QCommandLineOption saOption(QStringLiteral("sa"),
        QStringLiteral("Sample-rate code, 0-255 (default 1)."), QStringLiteral("CODE"));
    const QCommandLineOption filOption(QStringLiteral("fil"),
        QStringLiteral("Filter code, 0-255 (default 4)."), QStringLiteral("CODE"));
    const QCommandLineOption chOption(QStringLiteral("ch"),
        QStringLiteral("Channel code, 0-255 (default 3)."), QStringLiteral("CODE"));
    const QCommandLineOption valueOption(QStringLiteral("value"),
        QStringLiteral("Fixed value in volts, 0-42.94967295, without noise or drift "
                       "(default: a battery near 3.7 V, see below)."),
        QStringLiteral("VOLTS"));
    const QCommandLineOption noiseOption(QStringLiteral("noise"),
        QStringLiteral("White noise, uV rms at 10 Sa/s without filtering, 0-100000 (default 5)."),
        QStringLiteral("UV"));
    const QCommandLineOption flickerOption(QStringLiteral("flicker"),
        QStringLiteral("1/f noise, its density at 1 Hz in uV/sqrt(Hz), 0-100000 (default 0.5)."),
        QStringLiteral("UV"));
    const QCommandLineOption driftOption(QStringLiteral("drift"),
        QStringLiteral("Fall of the voltage in uV a minute, -1e9 to 1e9 (default 3; below 0 it rises)."),
        QStringLiteral("UV_PER_MIN"));
    const QCommandLineOption uniformNoiseOption(QStringLiteral("uniform-noise"),
        QStringLiteral("3.7 V with evenly spread noise of up to 0.005 V (2887 uV rms), "
                       "no drift, instead of the battery."));
    const QCommandLineOption echoOption(QStringLiteral("echo"),
        QStringLiteral("Bytes 1-3 and 12-13 of every report as 10 hex digits (default 0000000000)."),
        QStringLiteral("HEX"));
    const QCommandLineOption rateOption(QStringLiteral("rate"),
        QStringLiteral("Reports per second, 0.001-100000, instead of the rate the "
                       "sample-rate code names."),
        QStringLiteral("N"));
    const QCommandLineOption burstOption(QStringLiteral("burst"),
        QStringLiteral("Send reports back to back, whenever the line can take more."));
    const QCommandLineOption splitOption(QStringLiteral("split"),
        QStringLiteral("Write each frame in two pieces, cut at a random byte, 2-5 ms apart."));
    const QCommandLineOption corruptOption(QStringLiteral("corrupt"),
        QStringLiteral("Flip one bit in every Nth frame, so that its checksum fails."), QStringLiteral("N"));
    const QCommandLineOption junkOption(QStringLiteral("junk"),
        QStringLiteral("Write N random bytes (1-4096) before every third frame, starting with the first."),
        QStringLiteral("N"));
    const QCommandLineOption countOption(QStringLiteral("count"),
        QStringLiteral("Stop after N reports, once the client has read them. Reports dropped because nobody reads do not count."), QStringLiteral("N"));
    const QCommandLineOption durationOption(QStringLiteral("duration"),
        QStringLiteral("Stop after S seconds (fractions allowed), once the client has read what was sent."), QStringLiteral("S"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
        QStringLiteral("Seed for noise, cuts, junk and flipped bits, 0-4294967295."), QStringLiteral("N"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link at PATH to the line (e.g. /dev/COM1), removed at exit. "
                       "Only a symbolic link already at PATH is replaced."),
        QStringLiteral("PATH"));
    const QCommandLineOption logReportsOption(QStringLiteral("log-reports"),
        QStringLiteral("Log every report and junk written on standard error."));

    parser.addOptions({idOption, saOption, filOption, chOption, valueOption, noiseOption, flickerOption,
                       driftOption, uniformNoiseOption, echoOption, rateOption,
                       burstOption, splitOption, corruptOption, junkOption, countOption, durationOption,
                       seedOption, linkOption, logReportsOption});

    const auto error = [](const QString &message) { return ParseResult{ParseStatus::Error, message}; };

    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (parser.isSet(helpOption))
        return ParseResult{ParseStatus::Help, parser.helpText() + QString::fromLatin1(Formats)};
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst()));

    // Options given twice would silently take one of the values; say so instead.
    for (const QString &name : parser.optionNames()) {
        if (parser.values(name).size() > 1)
            return error(QStringLiteral("option --%1 given more than once").arg(name));
    }

    QString message;
    const auto byteOption = [&](const QCommandLineOption &option, uint8_t &target) {
        if (!parser.isSet(option))
            return true;
        const auto number = parseInteger(parser.value(option), 0, 255);
        if (!number) {
            message = QStringLiteral("--%1 wants a number from 0 to 255 (decimal or 0x hex), not '%2'")
                          .arg(option.names().constFirst(), parser.value(option));
            return false;
        }
        target = static_cast<uint8_t>(*number);
        return true;
    };
    if (!byteOption(idOption, options.id) || !byteOption(saOption, options.settings[orvale::SettingsSampleRate])
        || !byteOption(filOption, options.settings[orvale::SettingsFilter])
        || !byteOption(chOption, options.settings[orvale::SettingsChannel]))
        return error(message);

    if (parser.isSet(valueOption)) {
        const auto volts = parseReal(parser.value(valueOption), 0.0, 4294967295.0 / 1e8, true);
        if (!volts)
            return error(QStringLiteral("--value wants volts from 0 to 42.94967295, not '%1'")
                             .arg(parser.value(valueOption)));
        options.fixedValue = static_cast<uint32_t>(std::llround(*volts * 1e8));
    }

    const auto levelOption = [&](const QCommandLineOption &option, double lowest, double highest, const QString &what,
                                 double &target) {
        if (!parser.isSet(option))
            return true;
        const auto number = parseReal(parser.value(option), lowest, highest, true);
        if (!number) {
            message = QStringLiteral("--%1 wants %2, not '%3'").arg(option.names().constFirst(), what, parser.value(option));
            return false;
        }
        target = *number;
        return true;
    };
    if (!levelOption(noiseOption, 0.0, MaxNoise, QStringLiteral("uV rms from 0 to 100000"), options.levels.whiteMicrovolts)
        || !levelOption(flickerOption, 0.0, MaxNoise, QStringLiteral("uV/sqrt(Hz) from 0 to 100000"),
                        options.levels.flickerMicrovolts)
        || !levelOption(driftOption, -MaxDrift, MaxDrift, QStringLiteral("uV a minute from -1e9 to 1e9"),
                        options.levels.driftMicrovoltsPerMinute))
        return error(message);
    options.uniformNoise = parser.isSet(uniformNoiseOption);
    // The value has one source; a second one asked for would be ignored unseen.
    const bool batterySet = parser.isSet(noiseOption) || parser.isSet(flickerOption) || parser.isSet(driftOption);
    if (options.fixedValue && (batterySet || options.uniformNoise))
        return error(QStringLiteral("--value excludes --noise, --flicker, --drift and --uniform-noise"));
    if (options.uniformNoise && batterySet)
        return error(QStringLiteral("--uniform-noise excludes --noise, --flicker and --drift"));

    if (parser.isSet(echoOption)) {
        const QString text = parser.value(echoOption).trimmed();
        const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
        const bool allHex = !text.isEmpty()
            && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return std::isxdigit(static_cast<unsigned char>(c.toLatin1())) != 0; });
        if (text.size() != 10 || !allHex || bytes.size() != 5)
            return error(QStringLiteral("--echo wants exactly 10 hex digits, not '%1'").arg(text));
        std::copy(bytes.cbegin(), bytes.cend(), options.echo.begin());
    }

    if (parser.isSet(rateOption)) {
        options.rate = parseReal(parser.value(rateOption), MinRate, MaxRate, true);
        if (!options.rate)
            return error(QStringLiteral("--rate wants reports per second from 0.001 to 100000, not '%1'")
                             .arg(parser.value(rateOption)));
    }
    options.burst = parser.isSet(burstOption);
    if (options.burst && options.rate)
        return error(QStringLiteral("--rate and --burst exclude each other"));

    options.split = parser.isSet(splitOption);
    options.logReports = parser.isSet(logReportsOption);

    if (parser.isSet(corruptOption)) {
        const auto every = parseInteger(parser.value(corruptOption), 1, 1000000000);
        if (!every)
            return error(QStringLiteral("--corrupt wants a count from 1 to 1000000000, not '%1'")
                             .arg(parser.value(corruptOption)));
        options.corruptEvery = static_cast<int>(*every);
    }
    if (parser.isSet(junkOption)) {
        const auto bytes = parseInteger(parser.value(junkOption), 1, MaxJunk);
        if (!bytes)
            return error(QStringLiteral("--junk wants a byte count from 1 to %1, not '%2'")
                             .arg(MaxJunk)
                             .arg(parser.value(junkOption)));
        options.junkBytes = static_cast<int>(*bytes);
    }
    if (parser.isSet(countOption)) {
        const auto count = parseInteger(parser.value(countOption), 1, Q_INT64_C(1000000000000));
        if (!count)
            return error(QStringLiteral("--count wants a number of reports of at least 1, not '%1'")
                             .arg(parser.value(countOption)));
        options.count = *count;
    }
    if (parser.isSet(durationOption)) {
        options.durationSeconds = parseReal(parser.value(durationOption), 0.0, MaxDuration, false);
        if (!options.durationSeconds)
            return error(QStringLiteral("--duration wants seconds, more than 0 and at most 1000000, not '%1'")
                             .arg(parser.value(durationOption)));
    }
    if (parser.isSet(seedOption)) {
        const auto seed = parseInteger(parser.value(seedOption), 0, 4294967295LL);
        if (!seed)
            return error(QStringLiteral("--seed wants a number from 0 to 4294967295, not '%1'")
                             .arg(parser.value(seedOption)));
        options.seed = static_cast<quint32>(*seed);
    }
    if (parser.isSet(linkOption)) {
        options.linkPath = parser.value(linkOption);
        if (options.linkPath.isEmpty())
            return error(QStringLiteral("--link wants a path"));
    }
    return ParseResult{};
}

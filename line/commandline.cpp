// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QVariant>

#include <cmath>
#include <utility>

namespace orvale {

namespace {

// Qt's own options, which the window's application object takes out of the
// command line after this parse: they must pass here untouched.
const char *const QtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                          "qwindowtitle", "qwindowicon", "display", "geometry", "title", "name",
                                          "style", "stylesheet", "session", "visual", "ncols"};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap"};

// A positive, finite number given to an option, or NaN.
double positiveValue(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) && v > 0 ? v : std::nan("");
}

// What a --config file may set: the line's, the logger's and the broker's
// options, by their long names (the password only through its file). Not --config itself: one file, no chains.
const char *const ConfigKeys[] = {"port", "baud", "data-bits", "parity", "stop-bits",
                                  "record", "name", "rotate", "no-compress", "max-disk",
                                  "publish", "mqtt-password-file", "mqtt-ca", "mqtt-queue"};

} // namespace

LineSettings LineOptions::over(LineSettings base) const
{
    base.baud = baud.value_or(base.baud);
    base.dataBits = dataBits.value_or(base.dataBits);
    base.parity = parity.value_or(base.parity);
    base.stopBitsEntry = stopBitsEntry.value_or(base.stopBitsEntry);
    return base;
}

CommandLine::CommandLine(const QString &program, const QString &description, Groups groups)
    : m_program(program), m_description(description), m_groups(groups)
{
    if (groups & LineGroup) {
        add({QStringLiteral("port"),
             QStringLiteral("The port: a name as the port list shows it (COM3 means /dev/COM3) or a path."),
             QStringLiteral("name")},
            LineGroup);
        add({QStringLiteral("baud"), QStringLiteral("The baud rate: 4800, 9600 or 115200."), QStringLiteral("n")},
            LineGroup);
        add({QStringLiteral("data-bits"), QStringLiteral("Data bits: 7 or 8."), QStringLiteral("7|8")}, LineGroup);
        add({QStringLiteral("parity"), QStringLiteral("Parity: 0 (none) or 1 (even)."), QStringLiteral("0|1")},
            LineGroup);
        add({QStringLiteral("stop-bits"), QStringLiteral("The stop bits entry: 0 or 1 (both are one stop bit)."),
             QStringLiteral("0|1")},
            LineGroup);
    }
    if (groups & WindowGroup) {
        add({QStringLiteral("open"), QStringLiteral("Opens the port once the window is up.")}, WindowGroup);
        add({QStringLiteral("record"), QStringLiteral("Records every report into this CSV file from the start."),
             QStringLiteral("file")},
            WindowGroup);
        add({QStringLiteral("trend"), QStringLiteral("Shows the trend window.")}, WindowGroup);
    }
    if (groups & LoggerGroup) {
        add({QStringLiteral("record"),
             QStringLiteral("The folder the recordings go to (made if missing); needed."), QStringLiteral("dir")},
            LoggerGroup);
        add({QStringLiteral("name"),
             QStringLiteral("The files' name, NAME-YYYYMMDDTHHMMSSZ.csv (default: the port's base name)."),
             QStringLiteral("name")},
            LoggerGroup);
        add({QStringLiteral("rotate"),
             QStringLiteral("A new file hourly, daily (the default) or before it would pass a size (64M)."),
             QStringLiteral("hourly|daily|size")},
            LoggerGroup);
        add({QStringLiteral("no-compress"), QStringLiteral("Keeps closed files plain instead of compressing them.")},
            LoggerGroup);
        add({QStringLiteral("max-disk"),
             QStringLiteral("Removes the oldest closed files while the recordings pass this size (2G)."),
             QStringLiteral("size")},
            LoggerGroup);
        add({QStringLiteral("config"),
             QStringLiteral("Reads these settings from key = value lines (port = ttyUSB0, rotate = hourly); "
                            "the command line wins."),
             QStringLiteral("file")},
            LoggerGroup);
    }
    if (groups & SummaryGroup) {
        add({QStringLiteral("summary"),
             groups & LoggerGroup
                 ? QStringLiteral("Prints the figures of the recording <file> (.csv or .csv.zst), or of all "
                                  "the recordings in a folder read as one, as JSON and exits.")
                 : QStringLiteral("Prints the figures of the recording <file> (CSV) as JSON and exits."),
             QStringLiteral("file")},
            SummaryGroup);
        add({QStringLiteral("full-scale"),
             QStringLiteral("With --summary: full scale for the resolution in bits, volts (default 5)."),
             QStringLiteral("volts")},
            SummaryGroup, QStringLiteral("summary"));
        add({QStringLiteral("span"),
             QStringLiteral("With --summary: only the last <seconds> of the recording (default: all)."),
             QStringLiteral("seconds")},
            SummaryGroup, QStringLiteral("summary"));
    }
    if (groups & BrokerGroup) {
        add({QStringLiteral("publish"),
             QStringLiteral("Publishes every report to an MQTT broker: mqtt://[USER@]HOST[:PORT]/PREFIX, or mqtts://"
                            " for TLS."),
             QStringLiteral("url")},
            BrokerGroup);
        add({QStringLiteral("mqtt-password-file"),
             QStringLiteral("The broker's password: the first line of <file> (never on the command line)."),
             QStringLiteral("file")},
            BrokerGroup);
        add({QStringLiteral("mqtt-ca"),
             QStringLiteral("Trusts the broker's certificate if this CA signed it (default: the system's CAs)."),
             QStringLiteral("file")},
            BrokerGroup);
        add({QStringLiteral("mqtt-queue"),
             QStringLiteral("Reports kept while the broker is away, in bytes: 64K to 1T, K, M or G after the number"
                            " (default 64M); past it the oldest go, counted as lost."),
             QStringLiteral("size")},
            BrokerGroup);
    }
    if (groups & RemoteGroup) {
        add({QStringLiteral("remote"),
             QStringLiteral("Shows a board that publishes to this broker address (mqtt://[USER@]HOST[:PORT]/PREFIX)"
                            " in a live trend window."),
             QStringLiteral("url")},
            RemoteGroup);
    }
}

void CommandLine::addOption(const QCommandLineOption &option, const QString &goesWith)
{
    add(option, Group(0), goesWith);
}

void CommandLine::add(const QCommandLineOption &option, Group group, const QString &goesWith)
{
    m_entries.append({option, group, goesWith});
}

CommandLine::Action CommandLine::fail(const QString &message)
{
    m_text = message;
    return m_action = Fail;
}

bool CommandLine::refuse(const QString &message)
{
    fail(message);
    return false;
}

QString CommandLine::helpText() const
{
    // The help text names the program from the application's arguments;
    // it is printed before any application object exists.
    if (QCoreApplication::instance())
        return m_parser->helpText();
    int argc = 1;
    QByteArray name = m_program.toLocal8Bit();
    char *argv[] = {name.data(), nullptr};
    QCoreApplication forTheText(argc, argv);
    return m_parser->helpText();
}

CommandLine::Action CommandLine::parse(const QStringList &arguments)
{
    m_start = StartOptions();
    m_summary = SummaryOptions();
    m_logger = LoggerOptions();
    m_config.clear();
    m_text.clear();
    m_parser = std::make_unique<QCommandLineParser>();
    QCommandLineParser &parser = *m_parser;
    parser.setApplicationDescription(m_description);
    // One dash and one letter are Qt's own short options; no clusters. So
    // "-summary" is "--summary", as an operator would expect.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    parser.addOptions({help, version});
    for (const Entry &entry : std::as_const(m_entries))
        parser.addOption(entry.option);
    if (m_groups & WindowGroup) {
        for (const char *name : QtOptionsWithValue) {
            QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char *name : QtFlags) {
            QCommandLineOption option(QString::fromLatin1(name), QString());
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(help) || parser.isSet(version)) {
        m_text = parser.isSet(help) ? helpText()
                                    : QStringLiteral("%1 %2\n").arg(m_program, QCoreApplication::applicationVersion());
        return m_action = Print;
    }

    const bool summary = (m_groups & SummaryGroup) && parser.isSet(QStringLiteral("summary"));
    for (const Entry &entry : std::as_const(m_entries)) {
        const QString name = entry.option.names().constFirst();
        if (!parser.isSet(name))
            continue;
        // Each option once: with two values, which one the operator meant is a guess.
        if (!entry.option.valueName().isEmpty() && parser.values(name).size() > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(name));
        // An option that only has a meaning beside another would otherwise
        // be dropped without a word.
        if (!entry.goesWith.isEmpty() && !parser.isSet(entry.goesWith))
            return fail(QStringLiteral("--%1 goes with --%2").arg(name, entry.goesWith));
        // The summary prints and exits: what the window or the line would
        // take has no effect there.
        if (summary && entry.group != 0 && entry.group != SummaryGroup)
            return fail(QStringLiteral("--%1 does not go with --summary").arg(name));
    }

    if ((m_groups & LoggerGroup) && parser.isSet(QStringLiteral("config"))
        && !readConfig(parser.value(QStringLiteral("config"))))
        return m_action;
    if (!readLine() || !readWindow() || !readSummary() || !readLogger() || !readBroker())
        return m_action;
    if ((m_groups & LoggerGroup) && !summary) {
        // A logger with nowhere to record or nothing to read would only wait.
        if (m_start.line.port.isEmpty())
            return fail(QStringLiteral("--port is needed (or port = in the --config file)"));
        if (m_logger.recordDir.isEmpty())
            return fail(QStringLiteral("--record is needed (or record = in the --config file)"));
    }
    return m_action = summary ? Summary : Run;
}

bool CommandLine::readLine()
{
    if (!(m_groups & LineGroup))
        return true;
    LineOptions &line = m_start.line;
    QString text, label;
    if (setting("port", &line.port, &label) && line.port.trimmed().isEmpty())
        return refuse(QStringLiteral("%1 wants a port name or path").arg(label));
    if (setting("baud", &text, &label) && !(line.baud = LineSettings::parseBaud(text)))
        return refuse(QStringLiteral("%1 wants a whole number, not \"%2\"").arg(label, text));
    if (setting("data-bits", &text, &label) && !(line.dataBits = LineSettings::parseDataBits(text)))
        return refuse(QStringLiteral("%1 wants 7 or 8, not \"%2\"").arg(label, text));
    if (setting("parity", &text, &label) && !(line.parity = LineSettings::parseParity(text)))
        return refuse(QStringLiteral("%1 wants 0 or 1, not \"%2\"").arg(label, text));
    if (setting("stop-bits", &text, &label) && !(line.stopBitsEntry = LineSettings::parseStopBitsEntry(text)))
        return refuse(QStringLiteral("%1 wants 0 or 1, not \"%2\"").arg(label, text));
    return true;
}

bool CommandLine::setting(const char *name, QString *value, QString *label) const
{
    const QString key = QLatin1String(name);
    if (m_parser->isSet(key)) {
        *value = m_parser->value(key);
        *label = QLatin1String("--") + key;
        return true;
    }
    const auto configured = m_config.constFind(key);
    if (configured == m_config.constEnd())
        return false;
    *value = configured.value();
    *label = m_logger.configFile + QLatin1String(": ") + key;
    return true;
}

bool CommandLine::readConfig(const QString &path)
{
    m_logger.configFile = path;
    // QSettings reads a missing or unreadable file as an empty one: an
    // operator's typo in the path would silently record with the defaults.
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("--config %1: %2").arg(path, path.isEmpty() ? QStringLiteral("wants a file name")
                                                                                  : file.errorString()));
    file.close();
    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return refuse(QStringLiteral("--config %1: not key = value lines").arg(path));
    for (const QString &key : settings.allKeys()) {
        // QSettings knows only ';' for a comment; an operator writes '#' as
        // in any other file under /etc, and such a line is a comment too.
        if (key.startsWith(QLatin1Char('#')))
            continue;
        bool known = false;
        for (const char *name : ConfigKeys)
            known = known || key == QLatin1String(name);
        // A password in a file that many may read, and that ends up in
        // backups and bug reports, is the one setting this file never takes.
        if (key.contains(QLatin1String("password")) && key != QLatin1String("mqtt-password-file"))
            return refuse(QStringLiteral("%1: \"%2\": the broker's password is read only from the file "
                                         "mqtt-password-file names").arg(path, key));
        // A misspelt key would otherwise leave its setting at the default unnoticed.
        if (!known)
            return refuse(QStringLiteral("%1: unknown setting \"%2\"").arg(path, key));
        // A value with a comma comes back as a list; the text is what was meant.
        const QVariant value = settings.value(key);
        m_config.insert(key, value.userType() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString().trimmed());
    }
    return true;
}

bool CommandLine::readWindow()
{
    if (!(m_groups & WindowGroup))
        return true;
    const QCommandLineParser &parser = *m_parser;
    m_start.open = parser.isSet(QStringLiteral("open"));
    m_start.trend = parser.isSet(QStringLiteral("trend"));
    m_start.recordFile = parser.value(QStringLiteral("record"));
    if (parser.isSet(QStringLiteral("record")) && m_start.recordFile.isEmpty())
        return refuse(QStringLiteral("--record wants a file name"));
    return true;
}

bool CommandLine::readSummary()
{
    if (!(m_groups & SummaryGroup))
        return true;
    const QCommandLineParser &parser = *m_parser;
    m_summary.file = parser.value(QStringLiteral("summary"));
    if (parser.isSet(QStringLiteral("summary")) && m_summary.file.isEmpty())
        return refuse(QStringLiteral("--summary wants a file name"));
    if (parser.isSet(QStringLiteral("full-scale"))) {
        const QString text = parser.value(QStringLiteral("full-scale"));
        m_summary.fullScaleVolts = positiveValue(text);
        if (std::isnan(m_summary.fullScaleVolts))
            return refuse(QStringLiteral("--full-scale needs a positive number of volts, not '%1'").arg(text));
    }
    if (parser.isSet(QStringLiteral("span"))) {
        const QString text = parser.value(QStringLiteral("span"));
        m_summary.spanSeconds = positiveValue(text);
        // Beyond this the span's milliseconds would not fit a qint64.
        if (std::isnan(m_summary.spanSeconds) || m_summary.spanSeconds > 1e12)
            return refuse(QStringLiteral("--span needs a positive number of seconds, not '%1'").arg(text));
    }
    return true;
}

QString BrokerOptions::readFiles(QByteArray *password) const
{
    password->clear();
    if (!passwordFile.isEmpty()) {
        const BrokerError error = readSecretFile(passwordFile, *password);
        if (error.isError())
            return QStringLiteral("--mqtt-password-file: %1").arg(error.describe());
    }
    if (!caFile.isEmpty()) {
        QFile ca(caFile);
        if (!ca.open(QIODevice::ReadOnly))
            return QStringLiteral("--mqtt-ca %1: %2").arg(caFile, ca.errorString());
    }
    return QString();
}

bool CommandLine::readBroker()
{
    if (!(m_groups & (BrokerGroup | RemoteGroup)))
        return true;
    BrokerOptions &broker = m_start.broker;
    // From the command line or, for the logger, its --config file.
    const auto address = [this](const char *name, std::optional<BrokerUrl> &out) {
        QString text, label;
        if (!setting(name, &text, &label))
            return true;
        BrokerError error;
        const BrokerUrl url = BrokerUrl::parse(text, &error);
        if (error.isError())
            return refuse(QStringLiteral("%1: %2").arg(label, error.describe()));
        out = url;
        return true;
    };
    if ((m_groups & BrokerGroup) && !address("publish", broker.publish))
        return false;
    if ((m_groups & RemoteGroup) && !address("remote", broker.remote))
        return false;
    if (!(m_groups & BrokerGroup))
        return true;

    // A broker's settings without a broker would be dropped without a word.
    const QString wanted = (m_groups & RemoteGroup) ? QStringLiteral("--publish or --remote")
                                                    : QStringLiteral("--publish");
    QString text, label;
    for (const char *name : {"mqtt-password-file", "mqtt-ca", "mqtt-queue"}) {
        if (setting(name, &text, &label) && !broker.publish && !broker.remote)
            return refuse(QStringLiteral("%1 goes with %2").arg(label, wanted));
    }
    if (setting("mqtt-password-file", &broker.passwordFile, &label) && broker.passwordFile.isEmpty())
        return refuse(QStringLiteral("%1 wants a file name").arg(label));
    if (setting("mqtt-ca", &broker.caFile, &label) && broker.caFile.isEmpty())
        return refuse(QStringLiteral("%1 wants a file name").arg(label));
    if (setting("mqtt-queue", &text, &label)) {
        broker.queueBytes = Rotation::parseSize(text).value_or(-1);
        if (broker.queueBytes < 64 * 1024 || broker.queueBytes > (qint64(1) << 40))
            return refuse(QStringLiteral("%1 wants a size from 64K to 1T, such as 64M, not '%2'").arg(label, text));
    }
    return true;
}

bool CommandLine::readLogger()
{
    if (!(m_groups & LoggerGroup))
        return true;
    m_summary.folders = true;
    QString text, label;
    if (setting("record", &m_logger.recordDir, &label) && m_logger.recordDir.trimmed().isEmpty())
        return refuse(QStringLiteral("%1 wants a folder").arg(label));
    if (setting("name", &m_logger.name, &label)
        && (m_logger.name.trimmed().isEmpty() || m_logger.name.contains(QLatin1Char('/'))))
        return refuse(QStringLiteral("%1 wants a file name without '/', not \"%2\"").arg(label, m_logger.name));
    if (setting("rotate", &text, &label)) {
        const std::optional<Rotation> rotation = Rotation::parse(text);
        if (!rotation)
            return refuse(QStringLiteral("%1 wants hourly, daily or a size such as 64M, not \"%2\"").arg(label, text));
        m_logger.rotation = *rotation;
    }
    if (m_parser->isSet(QStringLiteral("no-compress"))) {
        m_logger.compress = false;
    } else if (setting("no-compress", &text, &label)) {
        const QString word = text.toLower();
        const bool yes = word == QLatin1String("true") || word == QLatin1String("yes") || word == QLatin1String("1");
        const bool no = word == QLatin1String("false") || word == QLatin1String("no") || word == QLatin1String("0");
        if (!yes && !no)
            return refuse(QStringLiteral("%1 wants true or false, not \"%2\"").arg(label, text));
        m_logger.compress = !yes;
    }
    if (setting("max-disk", &text, &label)) {
        const std::optional<qint64> bytes = Rotation::parseSize(text);
        if (!bytes)
            return refuse(QStringLiteral("%1 wants a size such as 2G, not \"%2\"").arg(label, text));
        m_logger.maxDiskBytes = *bytes;
    }
    return true;
}

bool CommandLine::isSet(const QString &name) const
{
    return m_parser && m_parser->isSet(name);
}

QString CommandLine::value(const QString &name) const
{
    return m_parser ? m_parser->value(name) : QString();
}

CommandLine viewerCommandLine()
{
    return CommandLine(QStringLiteral("orvale-qv"),
                       QStringLiteral("Shows the readings of a 24-bit ADC board on a serial line; with --summary,\n"
                                      "prints the figures of a recording as one JSON object on standard output.\n"
                                      "\n"
                                      "Exit status: 0 when the window is closed or the program is ended by\n"
                                      "SIGTERM, SIGINT or SIGHUP (the recording is written and closed first);\n"
                                      "2 for a bad option or value. With --summary: 0, or 1 when the file\n"
                                      "cannot be read or is no recording."),
                       CommandLine::LineGroup | CommandLine::WindowGroup | CommandLine::SummaryGroup
                           | CommandLine::BrokerGroup | CommandLine::RemoteGroup);
}

CommandLine loggerCommandLine()
{
    return CommandLine(QStringLiteral("orvale-logger"),
                       QStringLiteral("Records a 24-bit ADC board on a serial line with no display: every report as\n"
                                      "a row of NAME-YYYYMMDDTHHMMSSZ.csv in the --record folder, a new file at each\n"
                                      "rotation, closed files compressed to .csv.zst. Waits for an absent port and\n"
                                      "reopens it when it comes back. SIGHUP begins a new file at once.\n"
                                      "With --publish, every report also goes to an MQTT broker, the board's tag\n"
                                      "being --name; the recording never waits for the broker.\n"
                                      "\n"
                                      "Exit status: 0 when ended by SIGTERM or SIGINT (the file is written and\n"
                                      "closed first); 1 when the folder cannot be made; 2 for a bad option or value.\n"
                                      "With --summary: 0, or 1 when a recording cannot be read."),
                       CommandLine::LineGroup | CommandLine::SummaryGroup | CommandLine::LoggerGroup
                           | CommandLine::BrokerGroup);
}

} // namespace orvale

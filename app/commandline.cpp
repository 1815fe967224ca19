// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "summary.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

const char *const Description =
    "Shows the readings of a 24-bit ADC board on a serial line.\n"
    "\n"
    "Exit status: 0 when the window is closed or the program is ended by\n"
    "SIGTERM, SIGINT or SIGHUP (the recording is written and closed first);\n"
    "2 for a bad option or value.";

// Qt's own options, which the application object takes out of the command
// line after this parse: they must pass here untouched.
const char *const QtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                          "qwindowtitle", "qwindowicon", "display", "geometry", "title", "name",
                                          "style", "stylesheet", "session", "visual", "ncols"};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap"};

QString helpText(const QCommandLineParser &parser)
{
    // The help text names the program from the application's arguments;
    // it is printed before any application object exists.
    if (QCoreApplication::instance())
        return parser.helpText();
    int argc = 1;
    char name[] = "orvale-qv";
    char *argv[] = {name, nullptr};
    QCoreApplication forTheText(argc, argv);
    return parser.helpText();
}

bool isWholeNumber(const QString &text)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    return ok && number > 0 && !text.startsWith(QLatin1Char('+'));
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    // One dash and one letter are Qt's own short options; no clusters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The port: a name as the port list shows it (COM3 means /dev/COM3) or a path."),
                                  QStringLiteral("name"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("The baud rate: 4800, 9600 or 115200."),
                                  QStringLiteral("n"));
    const QCommandLineOption dataBits(QStringLiteral("data-bits"), QStringLiteral("Data bits: 7 or 8."),
                                      QStringLiteral("7|8"));
    const QCommandLineOption parity(QStringLiteral("parity"), QStringLiteral("Parity: 0 (none) or 1 (even)."),
                                    QStringLiteral("0|1"));
    const QCommandLineOption stopBits(QStringLiteral("stop-bits"), QStringLiteral("The stop bits entry: 0 or 1."),
                                      QStringLiteral("0|1"));
    const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Opens the port once the window is up."));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Records every report into this CSV file from the start."),
                                    QStringLiteral("file"));
    const QCommandLineOption trend(QStringLiteral("trend"), QStringLiteral("Shows the trend window."));
    parser.addOptions({help, version, port, baud, dataBits, parity, stopBits, open, record, trend});
    // Taken before the window's start when given (main); listed here so
    // --help shows every way to start the program.
    parser.addOptions(orvale::summaryOptions());
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

    CommandLine result;
    auto fail = [&result](const QString &message) {
        result.action = CommandLine::Fail;
        result.text = message;
        return result;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
    if (parser.isSet(help) || parser.isSet(version)) {
        result.action = CommandLine::Print;
        result.text = parser.isSet(help) ? helpText(parser)
                                         : QStringLiteral("orvale-qv %1\n").arg(QCoreApplication::applicationVersion());
        return result;
    }

    // Each option once: with two values, which one the operator meant is a guess.
    for (const QCommandLineOption *option : {&port, &baud, &dataBits, &parity, &stopBits, &record}) {
        if (parser.values(*option).size() > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(option->names().constFirst()));
    }
    StartOptions &options = result.options;
    options.port = parser.value(port);
    options.baud = parser.value(baud);
    options.dataBits = parser.value(dataBits);
    options.parity = parser.value(parity);
    options.stopBits = parser.value(stopBits);
    options.open = parser.isSet(open);
    options.recordFile = parser.value(record);
    options.trend = parser.isSet(trend);

    if (parser.isSet(port) && options.port.trimmed().isEmpty())
        return fail(QStringLiteral("--port wants a port name or path"));
    if (parser.isSet(baud) && !isWholeNumber(options.baud))
        return fail(QStringLiteral("--baud wants a whole number, not \"%1\"").arg(options.baud));
    const QStringList sevenOrEight{QStringLiteral("7"), QStringLiteral("8")};
    const QStringList zeroOrOne{QStringLiteral("0"), QStringLiteral("1")};
    if (parser.isSet(dataBits) && !sevenOrEight.contains(options.dataBits))
        return fail(QStringLiteral("--data-bits wants 7 or 8, not \"%1\"").arg(options.dataBits));
    if (parser.isSet(parity) && !zeroOrOne.contains(options.parity))
        return fail(QStringLiteral("--parity wants 0 or 1, not \"%1\"").arg(options.parity));
    if (parser.isSet(stopBits) && !zeroOrOne.contains(options.stopBits))
        return fail(QStringLiteral("--stop-bits wants 0 or 1, not \"%1\"").arg(options.stopBits));
    if (parser.isSet(record) && options.recordFile.isEmpty())
        return fail(QStringLiteral("--record wants a file name"));
    return result;
}

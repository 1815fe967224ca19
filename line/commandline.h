// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokerurl.h"
#include "linesettings.h"
#include "rotation.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFlags>
#include <QHash>
#include <QList>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace orvale {

// The line as the command line sets it; what is not given stays as the
// program starts it.
struct LineOptions
{
    QString port;  // a name (COM3 means /dev/COM3) or a path; empty: not given
    std::optional<qint32> baud;
    std::optional<QSerialPort::DataBits> dataBits;
    std::optional<QSerialPort::Parity> parity;
    std::optional<int> stopBitsEntry;

    // `base` with every given setting in its place.
    [[nodiscard]] LineSettings over(LineSettings base) const;
};

// Where reports go (--publish) or come from (--remote), and how the broker
// is reached; the password file is read by the program that connects.
struct BrokerOptions
{
    std::optional<BrokerUrl> publish;
    std::optional<BrokerUrl> remote;
    QString passwordFile;  // empty: no password
    QString caFile;        // empty: the system's certificates
    qint64 queueBytes = 0;  // 0: not given, the publisher's own bound

    // Reads the password file into `password` and checks that the CA file
    // can be read, so a wrong path is said at the start rather than as a
    // failure at every connection attempt; empty when both are fine, else
    // the one line to print.
    [[nodiscard]] QString readFiles(QByteArray *password) const;
};

// What the command line asks of the window at its start.
struct StartOptions
{
    LineOptions line;
    bool open = false;
    QString recordFile;
    bool trend = false;
    BrokerOptions broker;
};

// What orvale-logger records where, from its command line and its
// --config file (the command line wins), every value checked.
struct LoggerOptions
{
    QString recordDir;  // empty: not given (the program refuses to run)
    QString name;       // the files' name; empty: the port's base name
    Rotation rotation = Rotation::daily();
    bool compress = true;
    qint64 maxDiskBytes = 0;  // 0: no limit
    QString configFile;       // the file read, if any
};

// The figures of a recording, printed instead of showing the window.
struct SummaryOptions
{
    QString file;
    bool folders = false;  // a folder is read as one recording of all its recordings
    double fullScaleVolts = 5;
    double spanSeconds = 0;  // the last seconds counted; 0: the whole recording
};

// One parser for every program of the project. A program takes the shared
// groups it has (the line, the window's start, the summary) and adds its
// own options; every value is checked here, once, and comes out typed. A
// refusal is one line for standard error, and the program exits 2.
class CommandLine
{
public:
    enum Group {
        LineGroup = 0x1,     // --port --baud --data-bits --parity --stop-bits
        WindowGroup = 0x2,   // --open --record --trend, and the toolkit's own options
        SummaryGroup = 0x4,  // --summary FILE [--full-scale V] [--span SECONDS]
        BrokerGroup = 0x8,   // --publish URL [--mqtt-password-file F] [--mqtt-ca F] [--mqtt-queue SIZE]
        RemoteGroup = 0x10,  // --remote URL, which the --mqtt-* options also go with
        // --record DIR --name --rotate --no-compress --max-disk --config FILE;
        // with it --summary also takes a folder.
        LoggerGroup = 0x20,
    };
    Q_DECLARE_FLAGS(Groups, Group)
    enum Action {
        Run,      // the program's own work, with the options read
        Summary,  // print the summary (summary()) and exit
        Print,    // text() to standard output, exit 0
        Fail,     // text() is the one line for standard error, exit 2
    };

    CommandLine(const QString &program, const QString &description, Groups groups);

    // An option of the program's own. With `goesWith` (an option's name) it
    // is refused unless that one is given too.
    void addOption(const QCommandLineOption &option, const QString &goesWith = QString());

    // `arguments` begin with the program's name, as main() has them. One
    // dash or two: "-summary" is "--summary".
    [[nodiscard]] Action parse(const QStringList &arguments);

    [[nodiscard]] Action action() const { return m_action; }
    [[nodiscard]] QString text() const { return m_text; }
    [[nodiscard]] const LineOptions &line() const { return m_start.line; }
    [[nodiscard]] const StartOptions &start() const { return m_start; }
    [[nodiscard]] const SummaryOptions &summary() const { return m_summary; }
    [[nodiscard]] const BrokerOptions &broker() const { return m_start.broker; }
    [[nodiscard]] const LoggerOptions &logger() const { return m_logger; }
    // The program's own options, as given.
    [[nodiscard]] bool isSet(const QString &name) const;
    [[nodiscard]] QString value(const QString &name) const;

private:
    struct Entry
    {
        QCommandLineOption option;
        Group group;  // 0: the program's own
        QString goesWith;
    };
    void add(const QCommandLineOption &option, Group group, const QString &goesWith = QString());
    Action fail(const QString &message);
    bool refuse(const QString &message);
    [[nodiscard]] QString helpText() const;
    [[nodiscard]] bool readLine();
    [[nodiscard]] bool readWindow();
    [[nodiscard]] bool readSummary();
    [[nodiscard]] bool readBroker();
    [[nodiscard]] bool readLogger();
    // A setting of the line, logger or broker groups, from the command line or, when
    // not given there, the --config file; false when neither has it.
    // `label` names where it came from for a refusal: "--baud" or "FILE: baud".
    [[nodiscard]] bool setting(const char *name, QString *value, QString *label) const;
    [[nodiscard]] bool readConfig(const QString &path);

    QString m_program;
    QString m_description;
    Groups m_groups;
    QList<Entry> m_entries;
    // Built by each parse(); the program's own options are read from it.
    std::unique_ptr<QCommandLineParser> m_parser;

    Action m_action = Fail;
    QString m_text;
    StartOptions m_start;
    SummaryOptions m_summary;
    LoggerOptions m_logger;
    // The --config file's settings, by option name.
    QHash<QString, QString> m_config;
};

// orvale-qv's command line: the window, started with the line and start
// options, or the summary of a recording.
[[nodiscard]] CommandLine viewerCommandLine();
// orvale-logger's: the line, where and how to record, or the summary of a
// recording or a folder of them.
[[nodiscard]] CommandLine loggerCommandLine();

} // namespace orvale

Q_DECLARE_OPERATORS_FOR_FLAGS(orvale::CommandLine::Groups)

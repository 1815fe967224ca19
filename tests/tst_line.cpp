// SPDX-License-Identifier: GPL-3.0-or-later
// The line without a window: its settings, opening a port, the wait for a
// vanished port, the one command line, and the end on SIGTERM.

#include "commandline.h"
#include "commframe.h"
#include "linesettings.h"
#include "ptyboard.h"
#include "reconnectwatcher.h"
#include "terminationsignals.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <dlfcn.h>
#include <optional>
#include <utility>

using namespace orvale;

namespace {

// Set to a signal's number, the next sigaction() for it fails as a system
// short of resources would make it.
int failSigactionFor = 0;

} // namespace

extern "C" int sigaction(int number, const struct sigaction *action, struct sigaction *old) noexcept
{
    static const auto real =
        reinterpret_cast<int (*)(int, const struct sigaction *, struct sigaction *)>(dlsym(RTLD_NEXT, "sigaction"));
    if (number == failSigactionFor && action) {
        errno = EINVAL;
        return -1;
    }
    return real(number, action, old);
}

class TestLine : public QObject
{
    Q_OBJECT

private slots:
    void entries()
    {
        // Only what the window's boxes and the command line offer reads as a setting.
        QCOMPARE(LineSettings::parseBaud(QStringLiteral("115200")), std::optional<qint32>(115200));
        for (const char *bad : {"", "0", "-9600", "+9600", " 9600", "9600 ", "96OO", "99999999999"})
            QVERIFY2(!LineSettings::parseBaud(QLatin1String(bad)), bad);
        QCOMPARE(LineSettings::parseDataBits(QStringLiteral("7")), std::optional(QSerialPort::Data7));
        QVERIFY(!LineSettings::parseDataBits(QStringLiteral("9")));
        // Parity "1" is even; stop bits "0" keeps one: no line has none.
        QCOMPARE(LineSettings::parseParity(QStringLiteral("1")), std::optional(QSerialPort::EvenParity));
        QCOMPARE(LineSettings::parseParity(QStringLiteral("0")), std::optional(QSerialPort::NoParity));
        QVERIFY(!LineSettings::parseParity(QStringLiteral("2")));
        const auto stopZero = LineSettings::fromEntries("4800", "8", "0", "0");
        QVERIFY(stopZero);
        QCOMPARE(stopZero->stopBitsEntry, 0);
        QCOMPARE(stopZero->stopBits(), QSerialPort::OneStop);
        QVERIFY(!LineSettings::fromEntries("4800", "8", "0", "2"));
        // Written back as the boxes list them, for the window to select.
        for (const auto d : {QSerialPort::Data7, QSerialPort::Data8})
            QCOMPARE(LineSettings::parseDataBits(LineSettings::dataBitsText(d)), std::optional(d));
        for (const auto p : {QSerialPort::NoParity, QSerialPort::EvenParity})
            QCOMPARE(LineSettings::parseParity(LineSettings::parityText(p)), std::optional(p));
        // What the command line leaves out stays as it was.
        LineOptions given;
        given.parity = QSerialPort::EvenParity;
        LineSettings base;
        base.baud = 4800;
        const LineSettings both = given.over(base);
        QCOMPARE(both.baud, 4800);
        QCOMPARE(both.parity, QSerialPort::EvenParity);
        QCOMPARE(both.dataBits, base.dataBits);
    }

    // The line's termios and refusals are tst_mainwindow's lineSettings,
    // through the same openLine().
    void opening()
    {
        PtyBoard board;
        QCOMPARE(portPath(QStringLiteral("ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(portPath(board.path), board.path);
        // A plain name lives in /dev: "pts/N" is the pseudo-terminal itself.
        QVERIFY(board.path.startsWith(QLatin1String("/dev/")));
        QSerialPort port;
        QVERIFY2(openLine(port, board.path.mid(5), LineSettings()), qPrintable(port.errorString()));
    }

    void reconnectWatcher()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyADC"));
        const QString nowhere = dir.filePath(QStringLiteral("unplugged"));
        PtyBoard board;
        const auto plug = [&](bool in) {
            QFile::remove(link);
            QVERIFY(QFile::link(in ? board.path : nowhere, link));
        };
        ReconnectWatcher watcher;
        QSignalSpy due(&watcher, &ReconnectWatcher::openDue);
        // The owner opens on its own port object and ends the wait once open.
        bool openForReal = false;
        QSerialPort port;
        connect(&watcher, &ReconnectWatcher::openDue, this, [&](const QString &name) {
            if (openForReal && openLine(port, name, LineSettings()))
                watcher.stop();
        });

        // A link left pointing at nothing is absent; the folder's watch alone
        // (the look is far off) sees the node come.
        plug(false);
        watcher.setCheckInterval(60000);
        watcher.waitFor(link);
        QVERIFY(watcher.isWaiting());
        QTest::qWait(300);
        QCOMPARE(due.count(), 0);
        plug(true);
        QTRY_COMPARE_WITH_TIMEOUT(due.count(), 1, 3000);
        QCOMPARE(due.at(0).at(0).toString(), link);

        // The opening failed: not asked again while the node stays...
        watcher.setCheckInterval(20);
        QTest::qWait(200);
        QCOMPARE(due.count(), 1);
        // ...nor while it is gone, only once it is back.
        QFile::remove(link);
        QTest::qWait(200);
        QCOMPARE(due.count(), 1);
        plug(true);
        QTRY_COMPARE(due.count(), 2);

        // Ended by the operator (that nothing follows is tst_unattended's reconnect).
        watcher.stop();
        QVERIFY(!watcher.isWaiting());

        // Tried just now: the next try waits for the node to go and come back.
        watcher.waitFor(link, true);
        QTest::qWait(200);
        QCOMPARE(due.count(), 2);
        openForReal = true;
        plug(false);
        QTest::qWait(100);
        plug(true);
        QTRY_COMPARE(due.count(), 3);
        QVERIFY(port.isOpen());
        QVERIFY(!watcher.isWaiting());
        QTest::qWait(200);
        QCOMPARE(due.count(), 3);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("text");  // the whole refusal; for others a part
        using C = CommandLine;
        QTest::newRow("all the window's") << QStringList{"--port", "COM3", "--baud", "9600", "--data-bits", "7",
                                                         "--parity", "1", "--stop-bits", "0", "--open", "--record",
                                                         "a.csv", "--trend"} << int(C::Run) << "";
        QTest::newRow("Qt's own") << QStringList{"-platform", "offscreen", "-style", "fusion", "-reverse"} << int(C::Run)
                                  << "";
        QTest::newRow("summary") << QStringList{"--summary", "a.csv", "--full-scale", "2.5", "--span", "60"}
                                 << int(C::Summary) << "";
        QTest::newRow("-summary") << QStringList{"-summary", "a.csv", "-full-scale", "2.5", "-span", "60"}
                                  << int(C::Summary) << "";
        QTest::newRow("help") << QStringList{"-h"} << int(C::Print) << "--span <seconds>";
        // One row per kind of refusal.
        QTest::newRow("unknown") << QStringList{"--bogus"} << int(C::Fail) << "Unknown option 'bogus'.";
        QTest::newRow("no value") << QStringList{"--port"} << int(C::Fail) << "Missing value after '--port'.";
        QTest::newRow("baud word") << QStringList{"--baud", "fast"} << int(C::Fail)
                                   << "--baud wants a whole number, not \"fast\"";
        QTest::newRow("empty record") << QStringList{"--record="} << int(C::Fail) << "--record wants a file name";
        QTest::newRow("twice") << QStringList{"--summary", "a", "-summary", "b"} << int(C::Fail)
                               << "--summary is given more than once";
        QTest::newRow("stray") << QStringList{"COM1"} << int(C::Fail) << "unexpected argument: COM1";
        QTest::newRow("span alone") << QStringList{"--span", "60"} << int(C::Fail) << "--span goes with --summary";
        QTest::newRow("summary and port") << QStringList{"--summary", "a.csv", "--port", "COM1"} << int(C::Fail)
                                          << "--port does not go with --summary";
        QTest::newRow("span too long") << QStringList{"--summary", "a", "--span", "1e13"} << int(C::Fail)
                                       << "--span needs a positive number of seconds, not '1e13'";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, text);
        CommandLine command = viewerCommandLine();
        QCOMPARE(int(command.parse(QStringList{"orvale-qv"} + arguments)), action);
        QCOMPARE(int(command.action()), action);
        if (action == CommandLine::Fail) {
            QCOMPARE(command.text(), text);  // one line, as main() prints it
            return;
        }
        QVERIFY2(command.text().contains(text), qPrintable(command.text()));
        if (QByteArray(QTest::currentDataTag()) == "all the window's") {
            const StartOptions &o = command.start();
            QCOMPARE(o.line.port, QStringLiteral("COM3"));
            QCOMPARE(o.line.baud, std::optional<qint32>(9600));
            QCOMPARE(o.line.dataBits, std::optional(QSerialPort::Data7));
            QCOMPARE(o.line.parity, std::optional(QSerialPort::EvenParity));
            QCOMPARE(o.line.stopBitsEntry, std::optional(0));
            QCOMPARE(o.recordFile, QStringLiteral("a.csv"));
            QVERIFY(o.open && o.trend);
        } else if (action == CommandLine::Summary) {
            QCOMPARE(command.summary().file, QStringLiteral("a.csv"));
            QCOMPARE(command.summary().fullScaleVolts, 2.5);
            QCOMPARE(command.summary().spanSeconds, 60.0);
        } else if (action == CommandLine::Run) {
            // Nothing given, nothing set: the window keeps its own choices.
            const StartOptions &o = command.start();
            QVERIFY(o.line.port.isEmpty() && !o.line.baud && !o.line.dataBits && !o.line.parity);
            QVERIFY(!o.open && !o.trend && o.recordFile.isEmpty());
        }
    }

    void brokerOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("refusal");  // empty: taken
        QTest::newRow("all") << QStringList{"--publish", "mqtts://lab@broker.local/lab/bench 1", "--remote",
                                            "mqtt://b:1884/lab/b2", "--mqtt-password-file", "pw", "--mqtt-ca",
                                            "ca.crt", "--mqtt-queue", "128M"} << "";
        QTest::newRow("password file alone") << QStringList{"--mqtt-password-file", "pw"}
                                             << "--mqtt-password-file goes with --publish or --remote";
        QTest::newRow("scheme") << QStringList{"--publish", "http://broker/lab"}
                                << "--publish: the address must begin with mqtt:// or mqtts://: http";
        QTest::newRow("queue too small") << QStringList{"--publish", "mqtt://b/l", "--mqtt-queue", "63K"}
                                         << "--mqtt-queue wants a size from 64K to 1T, such as 64M, not '63K'";
        QTest::newRow("queue past a terabyte") << QStringList{"--publish", "mqtt://b/l", "--mqtt-queue", "1025G"}
                                               << "--mqtt-queue wants a size from 64K to 1T, such as 64M, not '1025G'";
    }

    // Faults: a broker's option taken without a broker (dropped silently),
    // an address read unchecked, a size's unit ignored or overflowing.
    void brokerOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refusal);
        CommandLine command = viewerCommandLine();
        const CommandLine::Action action = command.parse(QStringList{"orvale-qv"} + arguments);
        QCOMPARE(command.text(), refusal);
        QCOMPARE(int(action), int(refusal.isEmpty() ? CommandLine::Run : CommandLine::Fail));
        if (refusal.isEmpty()) {
            const BrokerOptions &b = command.start().broker;
            QVERIFY(b.publish && b.remote && b.publish->tls);
            QCOMPARE(b.publish->toString(), QStringLiteral("mqtts://lab@broker.local/lab/bench 1"));
            QCOMPARE(b.remote->port, quint16(1884));
            QCOMPARE(b.passwordFile + b.caFile, QStringLiteral("pwca.crt"));
            QCOMPARE(b.queueBytes, qint64(128) << 20);
        }
        // A program without a remote view: its own words, and no --remote.
        CommandLine logger(QStringLiteral("logger"), QString(), CommandLine::LineGroup | CommandLine::BrokerGroup);
        QCOMPARE(logger.parse({"logger", "--mqtt-ca", "ca.crt"}), CommandLine::Fail);
        QCOMPARE(logger.text(), QStringLiteral("--mqtt-ca goes with --publish"));
        QCOMPARE(logger.parse({"logger", "--remote", "mqtt://b/l"}), CommandLine::Fail);
        QCOMPARE(logger.parse({"logger", "--publish", "mqtt://b/l", "--mqtt-queue", "65536"}), CommandLine::Run);
        QCOMPARE(logger.broker().queueBytes, qint64(65536));
    }

    // A second program takes the line's group and adds its own options.
    void anotherProgram()
    {
        CommandLine command(QStringLiteral("logger"), QString(), CommandLine::LineGroup);
        command.addOption({QStringLiteral("output"), QString(), QStringLiteral("dir")});
        command.addOption({QStringLiteral("rotate"), QString(), QStringLiteral("hours")}, QStringLiteral("output"));
        QCOMPARE(command.parse({"logger", "--port", "ttyUSB0", "--baud", "115200", "--output", "/var/x"}),
                 CommandLine::Run);
        QCOMPARE(command.line().over(LineSettings()).baud, 115200);
        QCOMPARE(command.value(QStringLiteral("output")), QStringLiteral("/var/x"));
        QVERIFY(!command.isSet(QStringLiteral("rotate")));
        QCOMPARE(command.parse({"logger", "--rotate", "24"}), CommandLine::Fail);
        QCOMPARE(command.text(), QStringLiteral("--rotate goes with --output"));
        // The window's and the summary's options are not its own.
        for (const char *other : {"--open", "--summary"}) {
            QCOMPARE(command.parse({"logger", QLatin1String(other), "x"}), CommandLine::Fail);
            QVERIFY2(command.text().startsWith(QLatin1String("Unknown option")), qPrintable(command.text()));
        }
    }

    // Catches: the config file winning over the command line, a config
    // value taken unchecked, a misspelt key or a missing file ignored, the
    // logger's defaults (daily, compressed, no limit) changed, its options
    // taken beside --summary, a folder not taken for the summary; the
    // broker's settings not read from the file, a password taken from it.
    void loggerOptions()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("logger.conf"));
        const auto writeConfig = [&config](const QByteArray &text) {
            QFile file(config);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        CommandLine command = loggerCommandLine();
        QCOMPARE(command.parse({"orvale-logger", "--port", "ttyUSB0", "--record", "/var/r"}), CommandLine::Run);
        QCOMPARE(command.logger().rotation.kind(), Rotation::Kind::Daily);
        QVERIFY(command.logger().compress);
        QCOMPARE(command.logger().maxDiskBytes, 0);
        QVERIFY(command.logger().name.isEmpty());

        QVERIFY(writeConfig("# the chamber's board\nport = ttyS1\nbaud = 115200\nrecord = /srv/rec\nname = chamber\n"
                            "rotate = hourly\n; comment\nno-compress = true\nmax-disk = 2G\n# max-disk = 1G\n"));
        QCOMPARE(command.parse({"orvale-logger", "--config", config, "--rotate", "64M", "--port", "ttyUSB0"}),
                 CommandLine::Run);
        const LoggerOptions &o = command.logger();
        QCOMPARE(command.line().port, QStringLiteral("ttyUSB0"));  // the command line wins
        QCOMPARE(command.line().baud, std::optional<qint32>(115200));
        QCOMPARE(o.recordDir, QStringLiteral("/srv/rec"));
        QCOMPARE(o.name, QStringLiteral("chamber"));
        QCOMPARE(o.rotation.kind(), Rotation::Kind::Size);
        QCOMPARE(o.rotation.maxBytes(), 64 << 20);
        QVERIFY(!o.compress);
        QCOMPARE(o.maxDiskBytes, qint64(2) << 30);
        QVERIFY(writeConfig("port = a\nrecord = r\npublish = mqtt://lab@broker/lab/b1\nmqtt-password-file = /etc/pw\n"
                            "mqtt-queue = 1M\n"));
        QCOMPARE(command.parse({"orvale-logger", "--config", config, "--mqtt-queue", "2M"}), CommandLine::Run);
        QCOMPARE(command.broker().publish->toString(), QStringLiteral("mqtt://lab@broker/lab/b1"));
        QCOMPARE(command.broker().passwordFile, QStringLiteral("/etc/pw"));
        QCOMPARE(command.broker().queueBytes, qint64(2) << 20);

        const auto refusal = [&command](const QStringList &arguments) {
            const bool refused = command.parse(QStringList{"orvale-logger"} + arguments) == CommandLine::Fail;
            return refused ? command.text() : QString();
        };
        const std::pair<QByteArray, QString> refused[] = {
            {"port = a\nrecord = r\nrotat = hourly\n", ": unknown setting \"rotat\""},
            {"port = a\nrecord = r\nmax-disk = lots\n", ": max-disk wants a size such as 2G, not \"lots\""},
            {"port = a\nrecord = r\nno-compress = maybe\n", ": no-compress wants true or false, not \"maybe\""},
            {"port = a\nrecord = r\nmqtt-password = x\n",
             ": \"mqtt-password\": the broker's password is read only from the file mqtt-password-file names"},
            {"port = a\nrecord = r\nmqtt-ca = ca.crt\n", ": mqtt-ca goes with --publish"},
            {"port = a\nrecord = r\npublish = mqtt://h/lab/#\n",
             ": publish: the topic prefix is not valid: a prefix may not hold '+' or '#'"},
        };
        for (const auto &bad : refused) {
            QVERIFY(writeConfig(bad.first));
            QCOMPARE(refusal({"--config", config}), config + bad.second);
        }
        QVERIFY(refusal({"--config", dir.filePath(QStringLiteral("none"))}).endsWith("No such file or directory"));
        QCOMPARE(refusal({"--port", "a", "--record", "r", "--name", "a/b"}),
                 QStringLiteral("--name wants a file name without '/', not \"a/b\""));
        QCOMPARE(refusal({"--summary", "rec", "--rotate", "hourly"}), QStringLiteral("--rotate does not go with --summary"));
        QVERIFY(!refusal({"--port", "a", "--record", "r", "--trend"}).isEmpty());
        QCOMPARE(command.parse({"orvale-logger", "--summary", "rec"}), CommandLine::Summary);
        QVERIFY(command.summary().folders);
        CommandLine viewer = viewerCommandLine();
        QCOMPARE(viewer.parse({"orvale-qv", "--summary", "rec"}), CommandLine::Summary);
        QVERIFY(!viewer.summary().folders);  // the window's summary keeps refusing a folder
    }

    // Each signal delivered as itself is tst_loggerapp's (SIGHUP, SIGTERM,
    // SIGINT to the logger) and tst_unattended's sigtermKeepsRows.
    void terminationSignals()
    {
        QVERIFY(TerminationSignals().isActive());
        // One handler refused: none is left behind, and each signal does what
        // it did before instead of feeding a pipe nobody reads.
        std::signal(SIGTERM, SIG_IGN);
        failSigactionFor = SIGINT;
        {
            TerminationSignals stops;
            failSigactionFor = 0;
            QVERIFY(!stops.isActive());
            QVERIFY2(stops.errorString().startsWith(QLatin1String("sigaction(")), qPrintable(stops.errorString()));
            struct sigaction now = {};
            ::sigaction(SIGTERM, nullptr, &now);
            QVERIFY(now.sa_handler == SIG_IGN);
        }
        std::signal(SIGTERM, SIG_DFL);
    }
};

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"

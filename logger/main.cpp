// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "loggerpublisher.h"
#include "loggerservice.h"
#include "messagelog.h"
#include "summary.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <malloc.h>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale-logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    orvale::CommandLine command = orvale::loggerCommandLine();
    switch (command.parse(arguments)) {
    case orvale::CommandLine::Print:
        std::fputs(qPrintable(command.text()), stdout);
        return 0;
    case orvale::CommandLine::Fail:
        std::fprintf(stderr, "orvale-logger: %s\n", qPrintable(command.text()));
        return 2;
    case orvale::CommandLine::Summary: {
        QCoreApplication app(argc, argv);
        return orvale::runSummary(command.summary());
    }
    case orvale::CommandLine::Run:
        break;
    }

    // A fixed threshold: the compressor's buffers (a megabyte and more, once
    // per closed file) are then mapped and handed back each time. With the
    // C library's sliding threshold the second compression's came from the
    // heap and stayed resident, 3 MB for good on a box that may have little.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    QCoreApplication app(argc, argv);
    const MessageLog log;
    TerminationSignals stops;
    if (!stops.isActive())
        log.write(MessageLog::Warning, QStringLiteral("SIGTERM, SIGINT and SIGHUP are not handled (%1): they end the "
                                                      "program without writing the file's last rows")
                                           .arg(stops.errorString()));
    LoggerService service(command.line(), command.logger(), log);
    QObject::connect(&stops, &TerminationSignals::received, &service, &LoggerService::handleSignal);
    QObject::connect(&service, &LoggerService::finished, &app, &QCoreApplication::quit);
    // Beside the recorder, after it: a report is on its way to the disk
    // before the broker's side sees it, and nothing there can hold it up.
    std::unique_ptr<LoggerPublisher> publisher;
    if (command.broker().publish) {
        ReportPublisher::Settings settings;
        const QString refused = LoggerPublisher::settingsFrom(command.broker(), service.name(), &settings);
        if (!refused.isEmpty()) {
            std::fprintf(stderr, "orvale-logger: %s\n", qPrintable(refused));
            return 2;
        }
        publisher = std::make_unique<LoggerPublisher>(settings, log);
        service.addSink([p = publisher.get()](const Arrival &at, const COMM_UART_OBJ &report) { p->append(at, report); });
    }
    if (!service.start())
        return 1;
    if (publisher)
        publisher->start();
    const int status = app.exec();
    // The service's stop (done already after a signal) hands the last
    // reports it read to the publisher, which then sends what waits: for
    // a bounded time, and not at all when the broker is away.
    service.stop();
    if (publisher)
        publisher->stop();
    return status;
}

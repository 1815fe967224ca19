// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "commframe.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "summary.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int badStart(const QString &message)
{
    std::fprintf(stderr, "orvale-qv: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale-qv"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));

    // Read before any application object: a bad option ends the program
    // before it needs a display.
    orvale::CommandLine command = orvale::viewerCommandLine();
    switch (command.parse(argumentsOf(argc, argv))) {
    case orvale::CommandLine::Print:
        std::fputs(qPrintable(command.text()), stdout);
        return 0;
    case orvale::CommandLine::Fail:
        return badStart(command.text());
    case orvale::CommandLine::Summary: {
        // The figures of a recording need no display.
        QCoreApplication app(argc, argv);
        return orvale::runSummary(command.summary());
    }
    case orvale::CommandLine::Run:
        break;
    }

    // Once the command line is known to start the window: it may start the
    // program again, which only the window needs.
    preparePainting(argv);
    orvale::registerFrameMetaType();
    QApplication app(argc, argv);
    MainWindow window;
    window.setWindowTitle(QStringLiteral(" Orvale QV1.0  "));
    const QString refused = window.prepareStart(command.start());
    if (!refused.isEmpty())
        return badStart(refused);

    TerminationSignals stops;
    // The window still ends the program in order; a script's stop would end
    // it at once, without the recording's last rows, so say so and go on.
    if (!stops.isActive())
        std::fprintf(stderr, "orvale-qv: SIGTERM, SIGINT and SIGHUP are not handled (%s): they end the program "
                             "without writing a recording's last rows\n",
                     qPrintable(stops.errorString()));
    QObject::connect(&stops, &TerminationSignals::received, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}

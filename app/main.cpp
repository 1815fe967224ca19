// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "commframe.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "summary.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QString>

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
    // Before any QApplication: the figures of a recording need no display.
    if (orvale::summaryRequested(argc, argv))
        return orvale::runSummary(argc, argv);
    preparePainting(argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale-qv"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));

    // Read before any application object: a bad option ends the program
    // before it needs a display.
    const CommandLine command = parseCommandLine(argumentsOf(argc, argv));
    if (command.action == CommandLine::Print) {
        std::fputs(qPrintable(command.text), stdout);
        return 0;
    }
    if (command.action == CommandLine::Fail)
        return badStart(command.text);

    orvale::registerFrameMetaType();
    QApplication app(argc, argv);
    MainWindow window;
    window.setWindowTitle(QStringLiteral(" Orvale QV1.0  "));
    const QString refused = window.prepareStart(command.options);
    if (!refused.isEmpty())
        return badStart(refused);

    TerminationSignals stops;
    QObject::connect(&stops, &TerminationSignals::received, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}

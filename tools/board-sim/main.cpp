// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardsim.h"
#include "portlink.h"
#include "pseudoterminal.h"
#include "signalpipe.h"
#include "simoptions.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int failWith(const QString &message, int exitCode)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(message));
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvale-board-sim"));

    SimOptions options;
    const ParseResult parsed = parseSimOptions(QCoreApplication::arguments(), options);
    if (parsed.status == ParseStatus::Help) {
        std::fputs(qPrintable(parsed.text), stdout);
        return 0;
    }
    if (parsed.status == ParseStatus::Error)
        return failWith(parsed.text + QStringLiteral(" (see --help)"), ExitUsage);

    // Whoever reads the path may close its end early; that must not kill the
    // process before it has removed its link.
    std::signal(SIGPIPE, SIG_IGN);

    // Handlers first, so that a signal at any later point still ends in the
    // normal clean-up below.
    SignalPipe signalPipe;
    QString error;
    if (!signalPipe.install(error))
        return failWith(error, ExitFailure);

    PseudoTerminal line;
    if (!line.open(error))
        return failWith(error, ExitFailure);

    PortLink link;
    if (!options.linkPath.isEmpty() && !link.create(options.linkPath, line.slavePath(), error))
        return failWith(error, ExitFailure);

    const quint32 seed = options.seed ? *options.seed : QRandomGenerator::global()->generate();
    std::fprintf(stderr, "seed %u\n", seed);
    // The path goes out only once the line (and its link) can be opened.
    std::printf("%s\n", qPrintable(line.slavePath()));
    std::fflush(stdout);

    BoardSim board(options, line, seed);
    QObject::connect(&signalPipe, &SignalPipe::received, &board, &BoardSim::stopNow);
    QObject::connect(&board, &BoardSim::finished, &app, &QCoreApplication::exit);
    // Started from the loop: exit() called before exec() runs would be lost.
    QTimer::singleShot(0, &board, &BoardSim::start);
    const int exitCode = QCoreApplication::exec();

    const QString note = link.remove();
    if (!note.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(note));
    return exitCode;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the window. Empty texts leave a setting as
// the form starts.
struct StartOptions
{
    QString port;      // as PortBox lists it, or a path
    QString baud;      // a whole number; the window checks it against BaudBox
    QString dataBits;  // "7" or "8"
    QString parity;    // "0" or "1"
    QString stopBits;  // "0" or "1"
    bool open = false;
    QString recordFile;
    bool trend = false;
};

// The outcome of reading the command line, before any window exists.
struct CommandLine
{
    enum Action { Run, Print, Fail };
    Action action = Run;
    // Print: the help or version text for standard output; Fail: the one
    // line for standard error.
    QString text;
    StartOptions options;
};

// `arguments` begin with the program's name, as QCoreApplication::arguments()
// gives them; Qt's own options (-platform, -style, ...) are taken out by the
// application object, so they are read after it exists.
CommandLine parseCommandLine(const QStringList &arguments);

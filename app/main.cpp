// SPDX-License-Identifier: GPL-3.0-or-later
#include "commframe.h"
#include "mainwindow.h"
#include "paintfix.h"
#include "summary.h"

#include <QApplication>
#include <QString>

int main(int argc, char *argv[])
{
    // Before any QApplication: the figures of a recording need no display.
    if (orvale::summaryRequested(argc, argv))
        return orvale::runSummary(argc, argv);
    preparePainting(argv);
    orvale::registerFrameMetaType();
    QApplication app(argc, argv);
    // Where QSettings keeps what the operator chose (the trend window's full scale).
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale-qv"));
    MainWindow window;
    window.setWindowTitle(QStringLiteral(" Orvale QV1.0  "));
    window.show();
    return app.exec();
}

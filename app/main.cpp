// SPDX-License-Identifier: GPL-3.0-or-later
#include "commframe.h"
#include "mainwindow.h"
#include "paintfix.h"

#include <QApplication>
#include <QString>

int main(int argc, char *argv[])
{
    preparePainting();
    orvale::registerFrameMetaType();
    QApplication app(argc, argv);
    MainWindow window;
    window.setWindowTitle(QStringLiteral(" Orvale QV1.0  "));
    window.show();
    return app.exec();
}

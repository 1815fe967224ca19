// SPDX-License-Identifier: GPL-3.0-or-later
// The LCD's frame comes from cached strips: it must look pixel for pixel as
// the window's own style draws it, also after a resize or a palette change.

#include "mainwindow.h"

#include <QLCDNumber>
#include <QtTest>

class TestFrameCache : public QObject
{
    Q_OBJECT

private slots:
    void lcdLooksAsTheStyleDrawsIt();
};

void TestFrameCache::lcdLooksAsTheStyleDrawsIt()
{
    MainWindow window;
    window.show();
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    QStyle *cached = lcd->style();
    QVERIFY(cached != QApplication::style());
    const auto compare = [&](const char *when) {
        const QImage withCache = lcd->grab().toImage();
        lcd->setStyle(QApplication::style());
        const QImage plain = lcd->grab().toImage();
        lcd->setStyle(cached);
        QVERIFY2(withCache == plain, when);
    };
    lcd->display(QStringLiteral("42.94967295"));
    compare("as shown");
    window.resize(window.width() + 137, window.height() + 61);
    QTRY_VERIFY(lcd->width() > 0);
    compare("after a resize");
    window.setEnabled(false);
    compare("disabled");
}

QTEST_MAIN(TestFrameCache)
#include "tst_framecache.moc"

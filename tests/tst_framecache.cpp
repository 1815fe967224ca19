// SPDX-License-Identifier: GPL-3.0-or-later
// The LCD is painted from cached images: it must look pixel for pixel as the
// LCD draws itself, also after a resize or when disabled.

#include "lcdpaintcache.h"
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
    auto *digits = window.findChild<LcdPaintCache *>(QStringLiteral("lcdPaintCache"));
    const auto compare = [&](const char *when) {
        const QImage fromImages = window.grab().toImage();
        lcd->removeEventFilter(digits);
        const QImage drawn = window.grab().toImage();
        lcd->installEventFilter(digits);
        QVERIFY2(fromImages == drawn, when);
    };
    for (const char *value : {"-1.00000000", "8888888888", "0.00000000", "42.94967295"}) {
        digits->display(QString::fromLatin1(value));
        compare(value);
    }
    window.resize(window.width() + 137, window.height() + 61);
    QTRY_VERIFY(lcd->width() > 0);
    compare("after a resize");
    window.setEnabled(false);
    compare("disabled");
}

QTEST_MAIN(TestFrameCache)
#include "tst_framecache.moc"

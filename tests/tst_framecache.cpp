// SPDX-License-Identifier: GPL-3.0-or-later
// The LCD is painted from cached images: it must look pixel for pixel as the
// LCD draws itself, also after a resize or when disabled, at a device-pixel
// ratio of 1 and, run again with QT_SCALE_FACTOR=2, of 2.

#include "lcdpaintcache.h"
#include "mainwindow.h"

#include <QLCDNumber>
#include <QScreen>
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
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    auto *digits = window.findChild<LcdPaintCache *>(QStringLiteral("lcdPaintCache"));
    // The ratio asked for, not silently another.
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    QCOMPARE(lcd->devicePixelRatioF(), scale.isEmpty() ? 1.0 : scale.toDouble());
    const bool ratio1 = lcd->devicePixelRatioF() == 1;
    const auto drawnByLcd = [&] {
        lcd->removeEventFilter(digits);
        lcd->setAttribute(Qt::WA_OpaquePaintEvent, false);
        const QImage drawn = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        lcd->installEventFilter(digits);
        lcd->setAttribute(Qt::WA_OpaquePaintEvent);
        return drawn;
    };
    // Both the window painted whole from the images and what the screen
    // shows after the repaints the new text asked for.
    const auto compare = [&](const char *when, bool cached = true) {
        QCoreApplication::sendPostedEvents();
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage fromImages = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        // Images that stepped aside would compare equal for nothing. At
        // ratio 2 they step aside: rendered apart from the window, their
        // antialiased edges came out a level off in places.
        QVERIFY2(digits->paintedFromImages() == (cached && ratio1), when);
        const QImage drawn = drawnByLcd();
        QVERIFY2(fromImages == drawn, when);
        // Qt 5's offscreen screen holds logical pixels only.
        QVERIFY2(!ratio1 || shown == drawn, when);
    };
    // Digits that change, go blank, move with the point or the sign, and a
    // text the images cannot stand for (two points) in between.
    for (const char *value : {"-1.00000000", "8888888888", "0.00000000", "42.94967295", "42.94967296", "0.5",
                              "1..5", "3.70182882", "-3.70182882", "3.7"}) {
        digits->display(QString::fromLatin1(value));
        compare(value, qstrcmp(value, "1..5") != 0);
    }
    // Every digit in every place, each text's images new while the last
    // one's are on screen: the images' store grows under the ones shown.
    for (char d = '0'; d <= '9'; ++d) {
        const QByteArray value(10, d);
        digits->display(QString::fromLatin1(value));
        compare(value.constData());
    }
    window.resize(window.width() + 137, window.height() + 61);
    QTRY_VERIFY(lcd->width() > 0);
    compare("after a resize");
    window.setEnabled(false);
    compare("disabled");
}

QTEST_MAIN(TestFrameCache)
#include "tst_framecache.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The window's painting: the LCD repaints only the digit cells that change,
// and what the screen then shows is the LCD's own full painting, at a
// device-pixel ratio of 1 and, run again with QT_SCALE_FACTOR=2, of 2; and
// the restart without Qt 5's AVX2 fill routines keeps an operator's choices.

#include "lcdpainter.h"
#include "mainwindow.h"
#include "paintfix.h"

#include <QApplication>
#include <QLCDNumber>
#include <QLabel>
#include <QPaintEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegion>
#include <QScreen>
#include <QStyle>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// The region each of a window's widgets was asked to paint.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget *window) : m_window(window) { qApp->installEventFilter(this); }
    ~PaintRecorder() override { qApp->removeEventFilter(this); }
    std::map<QWidget *, QRegion> painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == m_window)
            painted[static_cast<QWidget *>(watched)] += static_cast<QPaintEvent *>(event)->region();
        return false;
    }

private:
    QWidget *m_window = nullptr;
};

// The LCD's own full painting of `text`, by a fresh LCD set up as `lcd` is.
QImage paintedWhole(const QLCDNumber *lcd, const QString &text)
{
    QLCDNumber fresh;
    fresh.setStyle(lcd->style());
    fresh.setPalette(LcdPainter::paletteAsShown(lcd->palette()));
    fresh.setAutoFillBackground(lcd->autoFillBackground());
    fresh.setDigitCount(lcd->digitCount());
    fresh.setSmallDecimalPoint(lcd->smallDecimalPoint());
    fresh.setSegmentStyle(lcd->segmentStyle());
    fresh.setFrameShape(lcd->frameShape());
    fresh.setFrameShadow(lcd->frameShadow());
    fresh.setLineWidth(lcd->lineWidth());
    fresh.setMidLineWidth(lcd->midLineWidth());
    fresh.resize(lcd->size());
    fresh.display(text);
    return fresh.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Device pixels where two paintings differ, in logical coordinates.
QRegion differing(const QImage &a, const QImage &b, qreal ratio)
{
    QRegion region;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            if (pa[x] != pb[x])
                region += QRect(int(x / ratio), int(y / ratio), 1, 1);
    }
    return region;
}

// Runs as the program starts: counts its starts in the environment, calls
// preparePainting() and prints what Qt would then read.
int startAsTheProgram(char **argv)
{
    const int starts = qEnvironmentVariableIntValue("TST_PAINTING_STARTS") + 1;
    qputenv("TST_PAINTING_STARTS", QByteArray::number(starts));
    preparePainting(argv);
    const char *list = std::getenv("QT_NO_CPU_FEATURE");
    std::printf("%d [%s]\n", starts, list ? list : "unset");
    return 0;
}

} // namespace

class TestPainting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_window = new MainWindow;
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_lcd = m_window->findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
        QVERIFY(m_lcd);
        m_painter = new LcdPainter(m_lcd, m_window);
        // The ratio asked for, not silently another.
        const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
        QCOMPARE(m_lcd->devicePixelRatioF(), scale.isEmpty() ? 1.0 : scale.toDouble());
    }

    void cleanupTestCase()
    {
        delete m_window;
    }

    void partialRepaintsShowTheLcdsOwnPainting()
    {
        const qreal ratio = m_lcd->devicePixelRatioF();
        PaintRecorder recorder(m_window);
        QString shown = QStringLiteral("3.70182882");
        m_painter->display(shown);
        QTRY_VERIFY(recorder.painted.count(m_lcd));
        QStringList texts = {QStringLiteral("3.70182885"), QStringLiteral("3.70182915"), QStringLiteral("3.70179999"),
                             QStringLiteral("-3.70179999"), QStringLiteral("0.00000000"), QStringLiteral("42.94967295"),
                             QStringLiteral("3.7"), QStringLiteral("1..5"), QStringLiteral(".5"),
                             QStringLiteral("123456789012.34"), QStringLiteral("3.70182882"), QStringLiteral("resize"),
                             QStringLiteral("3.70182800"), QStringLiteral("37.0182800"),
                             QStringLiteral("3.70182883"), QStringLiteral("8888888888")};
        // Every digit in every place, points and all.
        for (char d = '0'; d <= '9'; ++d)
            texts << QString(10, QLatin1Char(d)) << QString(9, QLatin1Char(d)) + QLatin1Char('.');
        // Every change of one digit or blank to another in the last place: the
        // eleven characters in steps of 1 to 10 (eleven is prime, so each step
        // goes through all of them and back to "0", where the next begins).
        const QString chars = QStringLiteral("0123456789 ");
        for (int step = 1; step < chars.size(); ++step)
            for (int i = 1; i <= chars.size(); ++i)
                texts << QStringLiteral("3.7018288") + chars[i * step % chars.size()];
        for (const QString &next : qAsConst(texts)) {
            if (next == QLatin1String("resize")) {
                m_window->resize(m_window->width() + 137, m_window->height() + 61);
                QTRY_VERIFY(m_lcd->width() > 0);
                QTest::qWait(50);
                continue;
            }
            const QImage before = paintedWhole(m_lcd, shown);
            const QImage after = paintedWhole(m_lcd, next);
            recorder.painted.clear();
            m_painter->display(next);
            const QByteArray step = (shown + QLatin1String(" -> ") + next).toUtf8();
            shown = next;
            if (before == after)
                continue;
            QTRY_VERIFY2(recorder.painted.count(m_lcd), step.constData());
            // Every pixel the LCD's own painting changes was repainted.
            const QRegion missed = differing(before, after, ratio) - recorder.painted[m_lcd];
            QVERIFY2(missed.isEmpty(), step.constData());
            // And the screen shows what the LCD paints whole; Qt 5's offscreen
            // screen holds logical pixels only, so at ratio 2 the regions above
            // are the check.
            const QPoint at = m_lcd->mapTo(m_window, QPoint(0, 0));
            const QImage screen = m_window->screen()
                                      ->grabWindow(m_window->winId(), at.x(), at.y(), m_lcd->width(), m_lcd->height())
                                      .toImage()
                                      .convertToFormat(QImage::Format_RGB32);
            if (screen.size() == after.size())
                QVERIFY2(screen == after, step.constData());
            else
                QVERIFY2(ratio != 1, step.constData());
        }
    }

    void lastDigitRepaintsItsCellAlone()
    {
        m_painter->display(QStringLiteral("3.70182882"));
        QTest::qWait(100);
        PaintRecorder recorder(m_window);
        m_painter->display(QStringLiteral("3.70182883"));
        QTRY_VERIFY(recorder.painted.count(m_lcd));
        QTest::qWait(50);
        // Within the last digit's cell, less than all of it, and nothing else
        // of the window.
        const QRegion painted = recorder.painted[m_lcd];
        const QRect cell = m_painter->cellRect(m_lcd->digitCount() - 1);
        QVERIFY((painted - cell).isEmpty());
        QVERIFY(cell.width() * 8 < m_lcd->width());
        QVERIFY(!painted.isEmpty() && painted != QRegion(cell));
        QCOMPARE(recorder.painted.size(), size_t(1));
    }

    void avx2ListKeepsTheOperatorsChoice_data()
    {
        QTest::addColumn<QByteArray>("disabled");
        QTest::addColumn<QByteArray>("keep");
        QTest::addColumn<QByteArray>("expected");  // "-" when nothing is to be done
        QTest::newRow("unset") << QByteArray() << QByteArray() << QByteArray("avx2");
        QTest::newRow("operator's entries kept") << QByteArray("sse4.1 avx512f") << QByteArray()
                                                 << QByteArray("sse4.1 avx512f avx2");
        QTest::newRow("already named") << QByteArray("sse4.1 avx2") << QByteArray() << QByteArray("-");
        QTest::newRow("a longer name is not avx2") << QByteArray("avx2x") << QByteArray() << QByteArray("avx2x avx2");
        QTest::newRow("turned off") << QByteArray("sse4.1") << QByteArray("1") << QByteArray("-");
        QTest::newRow("turned off, unset list") << QByteArray() << QByteArray("yes") << QByteArray("-");
        QTest::newRow("not turned off by 0") << QByteArray() << QByteArray("0") << QByteArray("avx2");
    }

    void avx2ListKeepsTheOperatorsChoice()
    {
        QFETCH(QByteArray, disabled);
        QFETCH(QByteArray, keep);
        QFETCH(QByteArray, expected);
        const std::optional<std::string> list =
            listWithoutAvx2(disabled.isNull() ? nullptr : disabled.constData(), keep.isNull() ? nullptr : keep.constData());
        QCOMPARE(QByteArray(list ? list->c_str() : "-"), expected);
    }

    void restartsWithoutAvx2Fills_data()
    {
        QTest::addColumn<QString>("disabled");
        QTest::addColumn<QString>("keep");
        QTest::addColumn<QString>("expected");  // starts and the list Qt reads
        QTest::newRow("started again") << QString() << QString() << QStringLiteral("2 [avx2]");
        QTest::newRow("turned off") << QStringLiteral("sse4.2") << QStringLiteral("1") << QStringLiteral("1 [sse4.2]");
    }

    void restartsWithoutAvx2Fills()
    {
        QFETCH(QString, disabled);
        QFETCH(QString, keep);
        QFETCH(QString, expected);
    #if QT_VERSION_MAJOR == 5 && (defined(__x86_64__) || defined(__i386__))
        const bool restarts = __builtin_cpu_supports("avx2");
    #else
        const bool restarts = false;
    #endif
        // Elsewhere the program runs on as it is, the list untouched.
        if (!restarts)
            expected = QStringLiteral("1 [%1]").arg(disabled.isNull() ? QStringLiteral("unset") : disabled);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_NO_CPU_FEATURE"));
        env.remove(QStringLiteral("ORVALE_KEEP_AVX2"));
        env.remove(QStringLiteral("TST_PAINTING_STARTS"));
        if (!disabled.isNull())
            env.insert(QStringLiteral("QT_NO_CPU_FEATURE"), disabled);
        if (!keep.isNull())
            env.insert(QStringLiteral("ORVALE_KEEP_AVX2"), keep);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start-as-the-program")});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()).trimmed(), expected);
    }

private:
    MainWindow *m_window = nullptr;
    QLCDNumber *m_lcd = nullptr;
    LcdPainter *m_painter = nullptr;
};

int main(int argc, char **argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--start-as-the-program"))
        return startAsTheProgram(argv);
    QApplication app(argc, argv);
    TestPainting test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_painting.moc"

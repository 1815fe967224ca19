// Open, reports, the board's end vanishing, back to Closed, reopen: many
// times over, with nothing left behind.

#include "commframe.h"
#include "mainwindow.h"
#include "processprobe.h"
#include "ptyboard.h"

#include <QComboBox>
#include <QDir>
#include <QLCDNumber>
#include <QPushButton>
#include <QSerialPort>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

// Qt's object hooks let the test see every QObject come and go, so a port
// object that is never deleted shows up however it was lost.
extern Q_CORE_EXPORT quintptr qtHookData[];

namespace {

enum HookIndex { AddQObject = 3, RemoveQObject = 4 };
std::set<QObject *> liveObjects;
void objectAdded(QObject *o) { liveObjects.insert(o); }
void objectRemoved(QObject *o) { liveObjects.erase(o); }

int livePorts()
{
    int count = 0;
    for (QObject *o : liveObjects) {
        if (qobject_cast<QSerialPort *>(o))
            ++count;
    }
    return count;
}

QByteArray report(uint32_t value)
{
    COMM_UART_OBJ frame = {};
    frame.dev_id = 0xA2;
    frame.value = value;
    orvale::sealFrame(frame);
    return orvale::frameBytes(frame);
}

} // namespace

class TestUnplug : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void replugCycles();
};

void TestUnplug::initTestCase()
{
    qtHookData[AddQObject] = reinterpret_cast<quintptr>(&objectAdded);
    qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(&objectRemoved);
}

void TestUnplug::cleanupTestCase()
{
    qtHookData[AddQObject] = 0;
    qtHookData[RemoveQObject] = 0;
}

void TestUnplug::replugCycles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The same port name every time, as an adapter plugged back in would have.
    const QString portName = dir.filePath(QStringLiteral("ttyADC"));

    MainWindow window;
    window.show();
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("PortBox"));
    ports->addItem(portName);
    ports->setCurrentIndex(ports->count() - 1);
    auto *openButton = window.findChild<QPushButton *>(QStringLiteral("openButton"));
    auto *sendButton = window.findChild<QPushButton *>(QStringLiteral("sendButton"));
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    const QString openText = QStringLiteral("打开串口");

    int baselineFds = -1;
    double cpuAfterFirst = 0;
    QElapsedTimer wall;
    const int cycles = 200;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        PtyBoard board;
        QVERIFY(board.isValid());
        QFile::remove(portName);
        QVERIFY(QFile::link(board.path(), portName));

        QTest::mouseClick(openButton, Qt::LeftButton);
        QVERIFY2(openButton->text() != openText, qPrintable(window.statusBar()->currentMessage()));
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
        QVERIFY(sendButton->isEnabled());
        QCOMPARE(livePorts(), 1);

        QVERIFY(board.write(report(uint32_t(cycle))));
        QTRY_COMPARE(qRound64(lcd->value() * 1e8), qint64(cycle));

        board.closeBoard();
        QTRY_COMPARE(openButton->text(), openText);
        QVERIFY2(window.statusBar()->currentMessage().startsWith(QStringLiteral("串口连接已断开：")),
                 qPrintable(window.statusBar()->currentMessage()));
        QVERIFY(!sendButton->isEnabled());
        QVERIFY(ports->isEnabled());

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(livePorts(), 0);
        if (baselineFds < 0) {
            baselineFds = openFds();
            cpuAfterFirst = processCpuSeconds();
            wall.start();
        } else {
            QCOMPARE(openFds(), baselineFds);
        }
    }

    // The cycles mostly wait for the line; a spinning loop would use a core.
    const double cpu = processCpuSeconds() - cpuAfterFirst;
    qInfo("%d cycles: %.2f s CPU over %.2f s", cycles - 1, cpu, double(wall.elapsed()) / 1000.0);
    const double before = processCpuSeconds();
    QTest::qWait(500);
    QVERIFY2(processCpuSeconds() - before < 0.25, "CPU busy while Closed and idle");
}

QTEST_MAIN(TestUnplug)
#include "tst_unplug.moc"

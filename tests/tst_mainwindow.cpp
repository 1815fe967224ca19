#include "commframe.h"
#include "mainwindow.h"
#include "processprobe.h"
#include "ptyboard.h"

#include <QComboBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using namespace orvale;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray workedReport = hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34");
const QByteArray workedCommand = hex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9");

QByteArray report(uint32_t value, uint8_t id = 0xA1, uint8_t sa = 1, uint8_t fil = 4, uint8_t ch = 3)
{
    COMM_UART_OBJ frame = {};
    frame.dev_id = id;
    frame.sa_code = sa;
    frame.fil_code = fil;
    frame.ch_code = ch;
    frame.value = value;
    sealFrame(frame);
    return frameBytes(frame);
}

QString logText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')) + QLatin1Char(' ');
}

QStringList debugLines;
void collectDebug(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg)
        debugLines << text;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startupState();
    void slotTable();
    void openCloseAndLineSettings_data();
    void openCloseAndLineSettings();
    void openFailureStaysClosed();
    void workedReportAndCommand();
    void framesAcrossReads_data();
    void framesAcrossReads();
    void corruptedReadChangesOnlyTheLog();
    void codesOutsideTablesShowAsHex();
    void emptyDeviceEntryAndRepeatedPresses();
    void vanishedDeviceClosesWithoutSpinning();
    void reopenHandlesEveryChunkOnce();
    void closingWindowReleasesPort();
    void operatorEditsWhileDataArrives();
    void logClearedByButtonAndTimer();

private:
    template<typename T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    QString text(const char *label) { return child<QLabel>(label)->text(); }
    QString lcdText();
    void selectPort(const QString &path);
    void clickOpen() { QTest::mouseClick(child<QPushButton>("openButton"), Qt::LeftButton); }
    void clickSend() { QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton); }
    bool isOpen() { return child<QPushButton>("openButton")->text() == QStringLiteral("关闭串口"); }
    void select(const char *box, const QString &entry);
    // The selections of the worked command example, then a press.
    void sendWorkedCommand();

    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<PtyBoard> m_board;
};

void TestMainWindow::init()
{
    recv_obj = {};
    send_obj = {};
    apply_set = {};
    dev_set = {};
    debugLines.clear();
    qInstallMessageHandler(collectDebug);
    m_window.reset(new MainWindow);
    qInstallMessageHandler(nullptr);
    m_window->show();
    m_board.reset(new PtyBoard);
    QVERIFY(m_board->isValid());
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_board.reset();
}

QString TestMainWindow::lcdText()
{
    // The LCD keeps no text; its value is enough to tell reports apart.
    return QString::number(child<QLCDNumber>("lcdNumber")->value(), 'f', 8);
}

void TestMainWindow::selectPort(const QString &path)
{
    auto *box = child<QComboBox>("PortBox");
    box->addItem(path);
    box->setCurrentIndex(box->count() - 1);
}

void TestMainWindow::select(const char *box, const QString &entry)
{
    auto *combo = child<QComboBox>(box);
    const int index = combo->findText(entry, Qt::MatchExactly);
    QVERIFY2(index >= 0, qPrintable(entry));
    combo->setCurrentIndex(index);
}

void TestMainWindow::sendWorkedCommand()
{
    select("comboBox_id", "A3");
    select("comboBox_sa", "62 Sa/s");
    select("comboBox_fil", "Average value");
    select("comboBox_ch", "CH1");
    clickSend();
}

void TestMainWindow::startupState()
{
    QCOMPARE(debugLines, QStringList{QStringLiteral("\"界面设定成功！\"")});
    QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
    QCOMPARE(child<QPushButton>("openButton")->text(), QStringLiteral("打开串口"));
    QCOMPARE(child<QComboBox>("BaudBox")->currentText(), QStringLiteral("9600"));

    auto *ports = child<QComboBox>("PortBox");
    QVERIFY(ports->count() >= 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    QCOMPARE(ports->currentIndex(), 0);
    for (const char *box : {"PortBox", "BaudBox", "BitNumBox", "ParityBox", "StopBox"})
        QVERIFY(child<QComboBox>(box)->isEnabled());
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::slotTable()
{
    const QMetaObject *meta = m_window->metaObject();
    QStringList names;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        names << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(names, (QStringList{"on_clearButton_clicked()", "on_openButton_clicked()", "on_sendButton_clicked()",
                                 "Read_Data()", "ModbusCRC16(QByteArray,uint8_t)", "on_lcdNumber_overflow()",
                                 "on_textEdit_textChanged()", "onTimeout()"}));
    QCOMPARE(QByteArray(meta->method(meta->methodOffset() + 4).typeName()), QByteArray("uint16_t"));

    uint16_t crc = 0;
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "ModbusCRC16", Qt::DirectConnection,
                                      Q_RETURN_ARG(uint16_t, crc), Q_ARG(QByteArray, QByteArray("123456789")),
                                      Q_ARG(uint8_t, 0)));
    QCOMPARE(crc, uint16_t(0x4B37));
}

void TestMainWindow::openCloseAndLineSettings_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<int>("speed");

    QTest::newRow("form defaults") << "9600" << "8" << "0" << "1" << int(B9600);
    QTest::newRow("115200") << "115200" << "8" << "0" << "1" << int(B115200);
    QTest::newRow("4800, stop 0 keeps one") << "4800" << "8" << "0" << "0" << int(B4800);
    // A pseudo-terminal only carries 8 data bits without parity and refuses
    // anything else: the window must not then claim to be open.
    QTest::newRow("7 bits refused") << "9600" << "7" << "0" << "1" << -1;
    QTest::newRow("even parity refused") << "9600" << "8" << "1" << "1" << -1;
}

void TestMainWindow::openCloseAndLineSettings()
{
    QFETCH(QString, baud);
    QFETCH(QString, bits);
    QFETCH(QString, parity);
    QFETCH(QString, stop);
    QFETCH(int, speed);

    selectPort(m_board->path());
    select("BaudBox", baud);
    select("BitNumBox", bits);
    select("ParityBox", parity);
    select("StopBox", stop);
    clickOpen();

    if (speed < 0) {
        QVERIFY(!isOpen());
        QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
        QVERIFY(child<QComboBox>("BitNumBox")->isEnabled());
        QVERIFY(m_window->statusBar()->currentMessage().startsWith(QStringLiteral("串口打开失败：")));
        QTRY_VERIFY(m_board->peerClosed());
        return;
    }
    QVERIFY2(isOpen(), qPrintable(m_window->statusBar()->currentMessage()));
    QVERIFY(child<QPushButton>("sendButton")->isEnabled());
    for (const char *box : {"PortBox", "BaudBox", "BitNumBox", "ParityBox", "StopBox"})
        QVERIFY2(!child<QComboBox>(box)->isEnabled(), box);

    const termios line = m_board->lineSettings();
    QCOMPARE(int(cfgetispeed(&line)), speed);
    QCOMPARE(int(cfgetospeed(&line)), speed);
    QCOMPARE(int(line.c_cflag & CSIZE), int(CS8));
    QVERIFY(!(line.c_cflag & PARENB));
    QVERIFY(!(line.c_cflag & CSTOPB));
    QVERIFY(!(line.c_cflag & CRTSCTS));
    QVERIFY(!(line.c_iflag & (IXON | IXOFF)));

    clickOpen();
    QVERIFY(!isOpen());
    QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
    for (const char *box : {"PortBox", "BaudBox", "BitNumBox", "ParityBox", "StopBox"})
        QVERIFY(child<QComboBox>(box)->isEnabled());
    QCOMPARE(child<QComboBox>("BaudBox")->currentText(), baud);
    QCOMPARE(child<QComboBox>("PortBox")->currentText(), m_board->path());
    QTRY_VERIFY(m_board->peerClosed());
}

void TestMainWindow::openFailureStaysClosed()
{
    selectPort(QStringLiteral("/nonexistent/orvale-no-such-port"));
    clickOpen();
    QVERIFY(!isOpen());
    QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
    QVERIFY(child<QComboBox>("PortBox")->isEnabled());
    const QString message = m_window->statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("串口打开失败：")), qPrintable(message));
    QVERIFY(message.size() > QStringLiteral("串口打开失败：").size());

    // A later successful open clears the message.
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(isOpen());
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::workedReportAndCommand()
{
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(m_board->write(workedReport));

    QTRY_COMPARE(text("state"), QStringLiteral("runing"));
    QCOMPARE(lcdText(), QStringLiteral("2.50000000"));
    QCOMPARE(text("DEVICE_ID"), QStringLiteral("0xA1"));
    QCOMPARE(text("adch"), QStringLiteral("AVDD"));
    QCOMPARE(text("sa"), QStringLiteral("10 Sa/s"));
    QCOMPARE(text("fil"), QStringLiteral("Kalman"));
    QTRY_COMPARE(child<QTextEdit>("textEdit")->toPlainText(),
                 QStringLiteral("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34 "));

    sendWorkedCommand();
    QCOMPARE(m_board->waitForBytes(16), workedCommand);
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::framesAcrossReads_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QString>("shown");

    const QByteArray a = report(100000000);
    const QByteArray b = report(200000000);
    QTest::newRow("same frame twice in one read") << QList<QByteArray>{workedReport + workedReport} << "2.50000000";
    QTest::newRow("two frames in one read, newest shown") << QList<QByteArray>{a + b} << "2.00000000";
    QTest::newRow("split over two reads") << QList<QByteArray>{workedReport.left(7), workedReport.mid(7)}
                                          << "2.50000000";
    QTest::newRow("junk, then frame") << QList<QByteArray>{hex("ff 00 13 37") + a} << "1.00000000";
    QTest::newRow("frame and one more byte") << QList<QByteArray>{a + hex("a1")} << "1.00000000";
}

void TestMainWindow::framesAcrossReads()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QString, shown);

    selectPort(m_board->path());
    clickOpen();
    QByteArray all;
    for (const QByteArray &read : reads) {
        QVERIFY(m_board->write(read));
        all += read;
        // Let the window take each piece as its own read.
        QTRY_VERIFY(child<QTextEdit>("textEdit")->toPlainText().size() >= all.size() * 3);
    }
    QTRY_COMPARE(lcdText(), shown);
    QTRY_COMPARE(child<QTextEdit>("textEdit")->toPlainText().remove(QLatin1Char(' ')),
                 QString::fromLatin1(all.toHex()));
}

void TestMainWindow::corruptedReadChangesOnlyTheLog()
{
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(m_board->write(workedReport));
    QTRY_COMPARE(lcdText(), QStringLiteral("2.50000000"));

    QByteArray corrupted = report(123456789, 0xA7, 0, 0, 0);
    corrupted[15] = char(corrupted[15] ^ 0x01);
    QVERIFY(m_board->write(corrupted));
    QTRY_VERIFY(child<QTextEdit>("textEdit")->toPlainText().endsWith(logText(corrupted)));
    QCOMPARE(lcdText(), QStringLiteral("2.50000000"));
    QCOMPARE(text("DEVICE_ID"), QStringLiteral("0xA1"));

    // The next command echoes the newest valid report, not the corrupted read.
    sendWorkedCommand();
    QCOMPARE(m_board->waitForBytes(16), workedCommand);

    // A read shorter than a frame never feeds the echo either.
    QVERIFY(m_board->write(hex("a1 ff ff ff 00")));
    QTRY_VERIFY(child<QTextEdit>("textEdit")->toPlainText().endsWith(QStringLiteral("a1 ff ff ff 00 ")));
    m_board->forgetReceived();
    clickSend();
    QCOMPARE(m_board->waitForBytes(16), workedCommand);
}

void TestMainWindow::codesOutsideTablesShowAsHex()
{
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(m_board->write(report(0xFFFFFFFFu, 0x05, 4, 7, 0xFF)));
    QTRY_COMPARE(text("DEVICE_ID"), QStringLiteral("0x5"));
    QCOMPARE(text("sa"), QStringLiteral("0x4"));
    QCOMPARE(text("fil"), QStringLiteral("0x7"));
    QCOMPARE(text("adch"), QStringLiteral("0xFF"));
    QCOMPARE(lcdText(), QStringLiteral("42.94967295"));
}

void TestMainWindow::emptyDeviceEntryAndRepeatedPresses()
{
    selectPort(m_board->path());
    clickOpen();

    // Before any report: zero echo bytes, a valid checksum.
    select("comboBox_id", "A8");
    select("comboBox_sa", "123 Sa/s");
    clickSend();
    const QByteArray first = m_board->waitForBytes(16);
    QCOMPARE(first.size(), 16);
    QCOMPARE(first.left(8), hex("a8 00 00 00 03 00 00 00"));
    QCOMPARE(first.mid(8, 6), QByteArray(6, '\0'));
    QVERIFY(checksumMatches(frameFromBytes(first.constData())));

    // The blank tenth entry resends the previous device; a second press
    // with nothing new in between writes the same 16 bytes again.
    auto *ids = child<QComboBox>("comboBox_id");
    ids->setCurrentIndex(9);
    QVERIFY(ids->currentText().isEmpty());
    clickSend();
    clickSend();
    const QByteArray all = m_board->waitForBytes(48);
    QCOMPARE(all.size(), 48);
    QCOMPARE(all.mid(16, 16), first);
    QCOMPARE(all.mid(32, 16), first);
}

void TestMainWindow::vanishedDeviceClosesWithoutSpinning()
{
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(m_board->write(workedReport));
    QTRY_COMPARE(lcdText(), QStringLiteral("2.50000000"));

    m_board->closeBoard();
    QTRY_VERIFY(!isOpen());
    const QString message = m_window->statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("串口连接已断开：")), qPrintable(message));
    QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
    QVERIFY(child<QComboBox>("PortBox")->isEnabled());

    // A spinning event loop would burn the whole second.
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(1000);
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("CPU %1 s over one idle second").arg(cpu)));
    QCOMPARE(lcdText(), QStringLiteral("2.50000000"));
}

void TestMainWindow::reopenHandlesEveryChunkOnce()
{
    selectPort(m_board->path());
    clickOpen();
    clickOpen();
    clickOpen();
    QVERIFY(isOpen());

    const QByteArray a = report(111111111);
    QVERIFY(m_board->write(a));
    QTRY_COMPARE(lcdText(), QStringLiteral("1.11111111"));
    QTest::qWait(50);
    QCOMPARE(child<QTextEdit>("textEdit")->toPlainText(), logText(a));
}

void TestMainWindow::closingWindowReleasesPort()
{
    selectPort(m_board->path());
    clickOpen();
    QVERIFY(isOpen());
    QVERIFY(!m_board->peerClosed());
    m_window.reset();
    QVERIFY(m_board->peerClosed());
}

void TestMainWindow::operatorEditsWhileDataArrives()
{
    selectPort(m_board->path());
    clickOpen();
    auto *log = child<QTextEdit>("textEdit");

    const QByteArray a = report(1);
    QVERIFY(m_board->write(a));
    QTRY_COMPARE(log->toPlainText(), logText(a));

    // The operator puts the cursor at the start and types; reads that come
    // meanwhile land at the cursor once, then the cursor jumps to the end.
    QTest::mouseClick(log->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QTest::keyClick(log, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClicks(log, QStringLiteral("XY"));
    const QByteArray b = report(2);
    const QByteArray c = report(3);
    QVERIFY(m_board->write(b));
    QTRY_VERIFY(log->toPlainText().contains(logText(b)));
    QVERIFY(m_board->write(c));
    QTRY_VERIFY(log->toPlainText().contains(logText(c)));
    QCOMPARE(log->toPlainText(), QStringLiteral("XY") + logText(b) + logText(a) + logText(c));
    QVERIFY(log->textCursor().atEnd());

    QTest::keyClicks(log, QStringLiteral("Z"));
    QCOMPARE(log->toPlainText(), QStringLiteral("XY") + logText(b) + logText(a) + logText(c) + QStringLiteral("Z"));
}

void TestMainWindow::logClearedByButtonAndTimer()
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    auto *log = child<QTextEdit>("textEdit");
    selectPort(m_board->path());
    clickOpen();

    QVERIFY(m_board->write(report(1)));
    QTRY_VERIFY(!log->toPlainText().isEmpty());
    QTest::mouseClick(child<QPushButton>("clearButton"), Qt::LeftButton);
    QVERIFY(log->toPlainText().isEmpty());
    QCOMPARE(lcdText(), QStringLiteral("0.00000001"));  // display untouched

    // Text written after the button press is still cleared on the timer's
    // own schedule, ten seconds after construction.
    QTest::qWait(qMax(0, 3000 - int(sinceStart.elapsed())));
    QVERIFY(m_board->write(report(2)));
    QTRY_VERIFY(!log->toPlainText().isEmpty());
    QTest::mouseClick(child<QPushButton>("clearButton"), Qt::LeftButton);
    QVERIFY(m_board->write(report(3)));
    QTRY_VERIFY(!log->toPlainText().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().isEmpty(), 9000);
    QVERIFY2(sinceStart.elapsed() < 10800, qPrintable(QString::number(sinceStart.elapsed())));
    QCOMPARE(lcdText(), QStringLiteral("0.00000003"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

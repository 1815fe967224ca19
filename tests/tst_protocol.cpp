#include "checksum.h"
#include "commframe.h"

#include <QtTest>

using namespace orvale;

namespace {


QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Process-wide records outlive a test function; start each case from zero.
void resetRecords()
{
    recv_obj = {};
    send_obj = {};
    apply_set = {};
    dev_set = {};
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void checksumOfSealedFrame();
    void frameLayoutAndMetaType();
    void workedReportDecodes();
    void valueAndIdTexts_data();
    void valueAndIdTexts();
    void codesOutsideTables();
    void tablesTextToCode();
    void workedCommand();
    void commandBeforeAnyReport();
    void unmatchedSelectionKeepsPreviousCode();
};

void TestProtocol::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crclen");
    QTest::addColumn<int>("expected");

    QTest::newRow("check value") << QByteArray("123456789") << 0 << 0x4B37;
    QTest::newRow("check value, trailing two left out") << QByteArray("123456789xy") << 2 << 0x4B37;
    QTest::newRow("empty, crclen 0") << QByteArray() << 0 << 0;
    QTest::newRow("empty, crclen 2") << QByteArray() << 2 << 0;
    QTest::newRow("empty, crclen 255") << QByteArray() << 255 << 0;
    QTest::newRow("one byte, crclen 2") << hex("a1") << 2 << 0xFFFF;
    QTest::newRow("two bytes, crclen 2") << hex("a1 00") << 2 << 0xFFFF;
    QTest::newRow("three bytes, crclen 255") << hex("01 02 03") << 255 << 0xFFFF;
    // Signed char would sign-extend 0xff into the high byte of the register.
    QTest::newRow("byte 0xff alone") << hex("ff") << 0 << 0x00FF;
    QTest::newRow("byte 0x80 alone") << hex("80") << 0 << 0xE0BE;
    QTest::newRow("worked report bytes 0-13") << hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00") << 0 << 0x342A;
}

void TestProtocol::checksum()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crclen);
    QFETCH(int, expected);
    const QByteArray before = data;
    QCOMPARE(int(ModbusCRC16(data, static_cast<uint8_t>(crclen))), expected);
    QCOMPARE(data, before);
}

void TestProtocol::checksumOfSealedFrame()
{
    const QByteArray frame = hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34");
    const uint16_t stored = static_cast<uint16_t>(uint8_t(frame[14]) | (uint8_t(frame[15]) << 8));
    QCOMPARE(ModbusCRC16(frame, 2), stored);
    // Over a frame and its own checksum the register ends at zero.
    QCOMPARE(int(ModbusCRC16(frame, 0)), 0);
}

void TestProtocol::frameLayoutAndMetaType()
{
    const int id = registerFrameMetaType();
    QCOMPARE(QMetaType::type("COMM_UART_OBJ"), id);
    QCOMPARE(QMetaType::sizeOf(id), 16);

    const COMM_UART_OBJ frame = frameFromBytes(hex("a1 b1 b2 b3 01 04 00 03 80 b2 e6 0e 12 34 2a 34").constData());
    QCOMPARE(frame.dev_id, uint8_t(0xA1));
    QCOMPARE(frame.echo_head[2], uint8_t(0xB3));
    QCOMPARE(frame.value, 250000000u);
    QCOMPARE(frame.echo_tail, uint16_t(0x3412));
    QCOMPARE(frame.crc, uint16_t(0x342A));

    const QVariant copied = QVariant::fromValue(frame);
    QCOMPARE(frameBytes(copied.value<COMM_UART_OBJ>()), frameBytes(frame));
}

void TestProtocol::workedReportDecodes()
{
    const COMM_UART_OBJ report = frameFromBytes(hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34").constData());
    QVERIFY(checksumMatches(report));
    const ReportTexts texts = reportTexts(report);
    QCOMPARE(texts.value, QStringLiteral("2.50000000"));
    QCOMPARE(texts.deviceId, QStringLiteral("0xA1"));
    QCOMPARE(texts.sampleRate, QStringLiteral("10 Sa/s"));
    QCOMPARE(texts.filter, QStringLiteral("Kalman"));
    QCOMPARE(texts.channel, QStringLiteral("AVDD"));

    COMM_UART_OBJ broken = report;
    broken.crc ^= 0x0100;
    QVERIFY(!checksumMatches(broken));
}

void TestProtocol::valueAndIdTexts_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("valueText");
    QTest::newRow("zero") << 0u << "0.00000000";
    QTest::newRow("full range stays positive") << 0xFFFFFFFFu << "42.94967295";
    QTest::newRow("one unit") << 1u << "0.00000001";
    QTest::newRow("battery") << 370012345u << "3.70012345";
}

void TestProtocol::valueAndIdTexts()
{
    QFETCH(uint, value);
    QFETCH(QString, valueText);
    QCOMPARE(orvale::valueText(value), valueText);

    QCOMPARE(deviceIdText(0x05), QStringLiteral("0x5"));
    QCOMPARE(deviceIdText(0xA1), QStringLiteral("0xA1"));
    QCOMPARE(deviceIdText(0x00), QStringLiteral("0x0"));
    QCOMPARE(deviceIdText(0xFF), QStringLiteral("0xFF"));
}

void TestProtocol::codesOutsideTables()
{
    QCOMPARE(codeText(fil_table, 4), QStringLiteral("Kalman"));
    QCOMPARE(codeText(fil_table, 5), QStringLiteral("0x5"));
    QCOMPARE(codeText(fil_table, 7), QStringLiteral("0x7"));
    QCOMPARE(codeText(sa_table, 3), QStringLiteral("123 Sa/s"));
    QCOMPARE(codeText(sa_table, 4), QStringLiteral("0x4"));
    QCOMPARE(codeText(ch_table, 4), QStringLiteral("0x4"));
    QCOMPARE(codeText(ch_table, 0xFF), QStringLiteral("0xFF"));

    COMM_UART_OBJ report = {};
    report.sa_code = 0xEE;
    report.fil_code = 0x1C;
    report.ch_code = 0x10;
    const ReportTexts texts = reportTexts(report);
    QCOMPARE(texts.sampleRate, QStringLiteral("0xEE"));
    QCOMPARE(texts.filter, QStringLiteral("0x1C"));
    QCOMPARE(texts.channel, QStringLiteral("0x10"));
}

void TestProtocol::tablesTextToCode()
{
    const QStringList fil = {"No filtering", "Average value", "Median value", "Dithering", "Kalman"};
    const QStringList sa = {"4 Sa/s", "10 Sa/s", "62 Sa/s", "123 Sa/s"};
    const QStringList ch = {"CH1", "CH2", "CH3", "AVDD"};
    const QStringList id = {"A0", "A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8"};
    QCOMPARE(fil_table, fil);
    QCOMPARE(sa_table, sa);
    QCOMPARE(ch_table, ch);
    QCOMPARE(id_table, id);

    for (const QStringList *table : {&fil_table, &sa_table, &ch_table, &id_table}) {
        for (int code = 0; code < table->size(); ++code) {
            uint8_t found = 0xEE;
            QVERIFY(textToCode(*table, table->at(code), found));
            QCOMPARE(int(found), code);
        }
    }

    uint8_t code = 2;
    QVERIFY(!textToCode(fil_table, QStringLiteral("Average Value"), code));  // case matters
    QVERIFY(!textToCode(sa_table, QStringLiteral("4 Sa/s "), code));         // so do spaces
    QVERIFY(!textToCode(id_table, QString(), code));
    QCOMPARE(int(code), 2);
}

void TestProtocol::workedCommand()
{
    resetRecords();
    acceptReport(frameFromBytes(hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34").constData()));
    QCOMPARE(dev_set, (SettingsGroup{1, 4, 0, 3}));

    const COMM_UART_OBJ &command = buildCommand("62 Sa/s", "Average value", "CH1", "A3");
    QCOMPARE(frameBytes(command), hex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9"));
    QCOMPARE(&command, &send_obj);

    // Echoed bytes come from the newest report, byte 6 is always zero.
    COMM_UART_OBJ report = frameFromBytes(hex("a1 11 22 33 01 04 77 03 44 55 66 77 88 99 00 00").constData());
    sealFrame(report);
    acceptReport(report);
    const QByteArray bytes = frameBytes(buildCommand("4 Sa/s", "Kalman", "AVDD", "A8"));
    QCOMPARE(bytes.left(14), hex("a8 11 22 33 00 04 00 03 44 55 66 77 88 99"));
    QVERIFY(checksumMatches(send_obj));
    QCOMPARE(frameBytes(buildCommand("4 Sa/s", "Kalman", "AVDD", "A0")).at(0), char(0xA0));
}

void TestProtocol::commandBeforeAnyReport()
{
    resetRecords();
    const QByteArray bytes = frameBytes(buildCommand("123 Sa/s", "Dithering", "CH2", "A5"));
    QCOMPARE(bytes.left(14), hex("a5 00 00 00 03 03 00 01 00 00 00 00 00 00"));
    QVERIFY(checksumMatches(send_obj));
}

void TestProtocol::unmatchedSelectionKeepsPreviousCode()
{
    resetRecords();
    (void)buildCommand("62 Sa/s", "Median value", "CH3", "A6");
    const QByteArray first = frameBytes(send_obj);
    // The empty tenth device entry and unknown texts change nothing.
    const QByteArray second = frameBytes(buildCommand("bogus", "", "ch1", ""));
    QCOMPARE(second, first);
    QCOMPARE(apply_set, (SettingsGroup{2, 2, 0, 2}));

    resetRecords();
    const QByteArray neverFound = frameBytes(buildCommand("62 Sa/s", "Kalman", "CH1", ""));
    QCOMPARE(neverFound.at(0), char(0));
    QVERIFY(checksumMatches(send_obj));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The checksum, the report texts and the command builder. The frame reader
// is checked by the fuzz harness's corpus replay and the window suites.

#include "checksum.h"
#include "reports.h"

#include <QTest>

using namespace orvale;

static const QByteArray workedReport = hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34");

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crclen");
        QTest::addColumn<int>("expected");
        QTest::newRow("check value") << QByteArray("123456789") << 0 << 0x4B37;
        QTest::newRow("last two left out") << QByteArray("123456789xy") << 2 << 0x4B37;
        QTest::newRow("empty") << QByteArray() << 2 << 0;
        QTest::newRow("nothing left to cover") << hex("a1 00") << 2 << 0xFFFF;
        QTest::newRow("0xff is not sign-extended") << hex("ff") << 0 << 0x00FF;
        QTest::newRow("worked report") << workedReport << 2 << 0x342A;
    }

    void checksum()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, crclen);
        QFETCH(int, expected);
        QCOMPARE(int(ModbusCRC16(data, uint8_t(crclen))), expected);
    }

    void texts()
    {
        // A code beyond its table shows as the code, and nothing past the table is read.
        QCOMPARE(QStringList({codeText(fil_table, 4), codeText(fil_table, 7), codeText(sa_table, 4),
                              codeText(ch_table, 0xFF), deviceIdText(0x05), valueText(1), valueText(0xFFFFFFFFu)}),
                 QStringList({"Kalman", "0x7", "0x4", "0xFF", "0x5", "0.00000001", "42.94967295"}));
    }

    void commands()
    {
        recv_obj = send_obj = {};
        apply_set = {};
        // Before any report: the settings chosen, nothing echoed, a valid checksum.
        QCOMPARE(frameBytes(buildCommand("123 Sa/s", "Dithering", "CH2", "A5")).left(14),
                 hex("a5 00 00 00 03 03 00 01 00 00 00 00 00 00"));
        QVERIFY(checksumMatches(send_obj));

        acceptReport(frameFromBytes(workedReport.constData()));
        QCOMPARE(dev_set, (SettingsGroup{1, 4, 0, 3}));
        const COMM_UART_OBJ &command = buildCommand("62 Sa/s", "Average value", "CH1", "A3");
        QCOMPARE(&command, &send_obj);
        QCOMPARE(frameBytes(command), hex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9"));

        // Echoed bytes come from the newest report; byte 6 is always zero.
        COMM_UART_OBJ newer = frameFromBytes(hex("a1 11 22 33 01 04 77 03 44 55 66 77 88 99 00 00").constData());
        acceptReport(newer);
        QCOMPARE(frameBytes(buildCommand("4 Sa/s", "Kalman", "AVDD", "A8")).left(14),
                 hex("a8 11 22 33 00 04 00 03 44 55 66 77 88 99"));
        QVERIFY(checksumMatches(send_obj));

        // The blank tenth device entry and texts that match no entry exactly
        // (case matters) keep the previous codes.
        const QByteArray before = frameBytes(send_obj);
        QCOMPARE(frameBytes(buildCommand("bogus", "", "ch1", "")), before);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The broker's texts without a broker: addresses, the line-protocol lines
// (known answers), reading them back (repeats, gaps, a restarted publisher,
// hostile lines) and the summary's JSON.

#include "brokerurl.h"
#include "linereader.h"
#include "lineprotocol.h"
#include "reportpublisher.h"

#include <QTest>

#include <random>

using namespace orvale::lineprotocol;

namespace {

COMM_UART_OBJ report(uint8_t dev, uint8_t sa, uint8_t fil, uint8_t ch, uint32_t value)
{
    COMM_UART_OBJ frame{};
    frame.dev_id = dev;
    frame.sa_code = sa;
    frame.fil_code = fil;
    frame.ch_code = ch;
    frame.value = value;
    return frame;
}

QByteArray line(const QString &board, const COMM_UART_OBJ &frame, qint64 seq, qint64 ns)
{
    QByteArray out;
    appendLine(out, escapeTag(board), settingsTags(frame), frame.value, seq, ns);
    return out;
}

} // namespace

class TestLineProtocol : public QObject
{
    Q_OBJECT

private slots:
    void urls_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("normalised");  // toString() of a valid one
        QTest::addColumn<int>("port");
        QTest::newRow("plain") << "mqtt://broker.lab/lab/adc" << 0 << "mqtt://broker.lab/lab/adc" << 1883;
        QTest::newRow("tls default port") << "mqtts://ops@broker.lab/a" << 0 << "mqtts://ops@broker.lab/a" << 8883;
        QTest::newRow("tls on 1883") << "mqtts://h:1883/a" << 0 << "mqtts://h:1883/a" << 1883;
        QTest::newRow("ipv6") << "mqtt://[::1]:1884/a/b c" << 0 << "mqtt://[::1]:1884/a/b c" << 1884;
        QTest::newRow("scheme") << "http://h/a" << int(BrokerError::UrlScheme) << "" << 0;
        QTest::newRow("no host") << "mqtt:///a" << int(BrokerError::UrlHost) << "" << 0;
        QTest::newRow("empty user") << "mqtt://@h/a" << int(BrokerError::UrlHost) << "" << 0;
        QTest::newRow("password") << "mqtt://u:pw@h/a" << int(BrokerError::UrlPassword) << "" << 0;
        QTest::newRow("port 0") << "mqtt://h:0/a" << int(BrokerError::UrlPort) << "" << 0;
        QTest::newRow("port 65536") << "mqtt://h:65536/a" << int(BrokerError::UrlPort) << "" << 0;
        QTest::newRow("port sign") << "mqtt://h:+80/a" << int(BrokerError::UrlPort) << "" << 0;
        QTest::newRow("port empty") << "mqtt://h:/a" << int(BrokerError::UrlPort) << "" << 0;
        QTest::newRow("no prefix") << "mqtt://h" << int(BrokerError::UrlPrefix) << "" << 0;
        QTest::newRow("empty level") << "mqtt://h/a//b" << int(BrokerError::UrlPrefix) << "" << 0;
        QTest::newRow("plus") << "mqtt://h/a/+" << int(BrokerError::UrlPrefix) << "" << 0;
        QTest::newRow("dollar") << "mqtt://h/$SYS" << int(BrokerError::UrlPrefix) << "" << 0;
    }

    void urls()
    {
        QFETCH(QString, text);
        QFETCH(int, code);
        QFETCH(QString, normalised);
        QFETCH(int, port);
        BrokerError error{BrokerError::Other, QString()};
        const BrokerUrl url = BrokerUrl::parse(text, &error);
        QCOMPARE(int(error.code), code);
        QCOMPARE(error.describe().isEmpty(), code == 0);
        if (code == 0) {
            QCOMPARE(url.toString(), normalised);
            QCOMPARE(int(url.port), port);
        }
        QVERIFY(!error.describe().contains(QLatin1String("pw")));  // a password is never repeated
    }

    void knownLines()
    {
        // Known answers: what InfluxDB's /write accepted (scripts/influx-check).
        QCOMPARE(line(QStringLiteral("lab bench,2=x"), report(0xA1, 3, 1, 3, 412345678), 7, 1700000000123000000),
                 QByteArray("orvale,board=lab\\ bench\\,2\\=x,device=0xA1,channel=AVDD,sample_rate=123\\ Sa/s,"
                            "filter=Average\\ value value=4.12345678,seq=7i 1700000000123000000\n"));
        // No board, codes beyond the tables, the smallest and largest values.
        QCOMPARE(line(QString(), report(0x5, 9, 7, 0, 0), 1, 1),
                 QByteArray("orvale,device=0x5,channel=CH1,sample_rate=0x9,filter=0x7 value=0.00000000,seq=1i 1\n"));
        QCOMPARE(voltsText(4294967295u), QByteArray("42.94967295"));
        QCOMPARE(voltsText(1u), QByteArray("0.00000001"));
        // The same digits the window shows, over the whole range.
        std::mt19937 random(29);
        for (int i = 0; i < 20000; ++i) {
            const uint32_t value = random();
            QCOMPARE(QString::fromLatin1(voltsText(value)), orvale::valueText(value));
        }
    }

    void roundTrip()
    {
        const QString board = QStringLiteral("a\\,b c=d\\");
        const COMM_UART_OBJ frame = report(0xA8, 2, 4, 1, 4294967295u);
        const QByteArray text = line(board, frame, 9223372036854775807LL, 9223372036854775807LL);
        LineReport back;
        QVERIFY(parseLine(text.constData(), text.constData() + text.size() - 1, back));
        const orvale::ReportTexts texts = orvale::reportTexts(frame);
        QCOMPARE(QStringList({back.board, back.device, back.channel, back.sampleRate, back.filter}),
                 QStringList({board, texts.deviceId, texts.channel, texts.sampleRate, texts.filter}));
        QCOMPARE(QList<qint64>({back.value, back.seq, back.timeNs}),
                 QList<qint64>({frame.value, 9223372036854775807LL, 9223372036854775807LL}));
        // A line end in a name cannot cut the line in two.
        QCOMPARE(line(QStringLiteral("x\ny"), frame, 1, 1).count('\n'), 1);
    }

    void tolerantAndExact_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        QTest::newRow("tags reordered, unknown ones") << QByteArray("orvale,x=1,channel=CH1 seq=3i,value=1.5,note=\"a b,c\" 5")
                                                      << true << 150000000u;
        QTest::newRow("crlf") << QByteArray("orvale value=2,seq=1i 5\r") << true << 200000000u;
        QTest::newRow("zeros past 8 decimals") << QByteArray("orvale value=0.0000000100,seq=1i 5") << true << 1u;
        QTest::newRow("a ninth decimal") << QByteArray("orvale value=0.000000001,seq=1i 5") << false << 0u;
        QTest::newRow("past the range") << QByteArray("orvale value=42.94967296,seq=1i 5") << false << 0u;
        QTest::newRow("negative") << QByteArray("orvale value=-1.0,seq=1i 5") << false << 0u;
        QTest::newRow("exponent") << QByteArray("orvale value=1e2,seq=1i 5") << false << 0u;
        QTest::newRow("seq without i") << QByteArray("orvale value=1,seq=1 5") << false << 0u;
        QTest::newRow("seq 0") << QByteArray("orvale value=1,seq=0i 5") << false << 0u;
        QTest::newRow("seq overflow") << QByteArray("orvale value=1,seq=9223372036854775808i 5") << false << 0u;
        QTest::newRow("no time") << QByteArray("orvale value=1,seq=1i") << false << 0u;
        QTest::newRow("no value") << QByteArray("orvale seq=1i 5") << false << 0u;
        QTest::newRow("other measurement") << QByteArray("cpu value=1,seq=1i 5") << false << 0u;
        QTest::newRow("open string") << QByteArray("orvale value=1,seq=1i,s=\"abc 5") << false << 0u;
        QTest::newRow("tag without value") << QByteArray("orvale,board value=1,seq=1i 5") << false << 0u;
    }

    void tolerantAndExact()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(uint, value);
        LineReport report;
        QCOMPARE(parseLine(text.constData(), text.constData() + text.size(), report), ok);
        if (ok)
            QCOMPARE(report.value, uint32_t(value));
    }

    void readerDropsRepeatsCountsGaps()
    {
        auto lines = [](std::initializer_list<std::pair<int, int>> seqTimes) {
            QByteArray payload;
            for (const auto &[seq, time] : seqTimes)
                appendLine(payload, "b", settingsTags(report(0, 0, 0, 0, uint32_t(seq))), uint32_t(seq), seq, time);
            return payload;
        };
        LineReader reader;
        QCOMPARE(reader.read(lines({{5, 50}, {6, 60}})).size(), 2);  // joining mid-stream loses nothing
        QCOMPARE(reader.lost(), qint64(0));
        // A message delivered twice, then one after two that never came.
        QCOMPARE(reader.read(lines({{5, 50}, {6, 60}})).size(), 0);
        QCOMPARE(reader.duplicates(), qint64(2));
        const auto after = reader.read(lines({{6, 60}, {9, 90}, {10, 100}}) + "garbage\n\n");
        QCOMPARE(after.size(), 2);
        QCOMPARE(after.first().seq, qint64(9));
        QCOMPARE(reader.lost(), qint64(2));
        QCOMPARE(reader.rejectedLines(), qint64(1));
        // The publisher started again: seq from 1, later times.
        QCOMPARE(reader.read(lines({{1, 200}, {2, 210}})).size(), 2);
        QCOMPARE(reader.restarts(), qint64(1));
        QCOMPARE(reader.lost(), qint64(2));
        QCOMPARE(reader.read(QByteArray(LineReader::MaxPayload + 1, 'x')).size(), 0);
    }

    void summary()
    {
        ReportPublisher publisher;
        const Arrival at{1700000000000, 0};
        for (uint32_t value : {400000000u, 400000004u, 400000002u})
            publisher.append(at, report(0, 0, 0, 0, value));
        QCOMPARE(publisher.takeSummary(1700000001000),
                 QByteArray("{\"utc\": \"2023-11-14T22:13:21.000Z\", \"reports\": 3, \"mean_v\": 4.0000000200, "
                            "\"min_v\": 4.00000000, \"max_v\": 4.00000004, \"rms_uv\": 0.016, \"lost\": 0}"));
        // Each second on its own figures.
        QCOMPARE(publisher.takeSummary(1700000002000),
                 QByteArray("{\"utc\": \"2023-11-14T22:13:22.000Z\", \"reports\": 0, \"mean_v\": null, "
                            "\"min_v\": null, \"max_v\": null, \"rms_uv\": null, \"lost\": 0}"));
        publisher.append(at, report(0, 0, 0, 0, 4294967295u));
        publisher.append(at, report(0, 0, 0, 0, 0));
        QVERIFY(publisher.takeSummary(0).contains("\"mean_v\": 21.4748364750, \"min_v\": 0.00000000, "
                                                  "\"max_v\": 42.94967295, \"rms_uv\": 21474836.475"));
    }
};

QTEST_GUILESS_MAIN(TestLineProtocol)
#include "tst_lineprotocol.moc"

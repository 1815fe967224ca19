#include "checksum.h"
#include "framereader.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace orvale;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray report = hex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34");

QByteArray reportWithValue(uint32_t value)
{
    COMM_UART_OBJ frame = frameFromBytes(report.constData());
    frame.value = value;
    sealFrame(frame);
    return frameBytes(frame);
}

QList<QByteArray> feedAll(FrameReader &reader, const QList<QByteArray> &reads)
{
    QList<QByteArray> found;
    for (const QByteArray &read : reads) {
        for (const COMM_UART_OBJ &frame : reader.feed(read))
            found << frameBytes(frame);
        if (reader.pendingSize() > 15)
            qFatal("reader kept %d bytes", reader.pendingSize());
    }
    return found;
}

QList<QByteArray> split(const QByteArray &stream, const QList<int> &cuts)
{
    QList<QByteArray> reads;
    int from = 0;
    for (int cut : cuts) {
        reads << stream.mid(from, cut - from);
        from = cut;
    }
    reads << stream.mid(from);
    return reads;
}

} // namespace

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void streams_data();
    void streams();
    void oneByteAtATime();
    void boundedWhateverArrives();
    void resetDropsKeptBytes();
};

void TestFrameReader::streams_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray a = reportWithValue(1);
    const QByteArray b = reportWithValue(2);
    const QByteArray c = reportWithValue(3);
    QByteArray corrupted = b;
    corrupted[9] = char(corrupted[9] ^ 0x10);

    QTest::newRow("one frame") << QList<QByteArray>{report} << QList<QByteArray>{report};
    QTest::newRow("two frames in one read") << QList<QByteArray>{a + b} << QList<QByteArray>{a, b};
    QTest::newRow("split 5 + 11") << split(a, {5}) << QList<QByteArray>{a};
    QTest::newRow("split 15 + 1") << split(a, {15}) << QList<QByteArray>{a};
    QTest::newRow("split over three reads") << split(a + b, {3, 20}) << QList<QByteArray>{a, b};
    QTest::newRow("junk before") << QList<QByteArray>{hex("00 ff 13") + a} << QList<QByteArray>{a};
    QTest::newRow("junk between across reads") << split(a + hex("55 aa") + b, {17}) << QList<QByteArray>{a, b};
    QTest::newRow("corrupted frame skipped") << QList<QByteArray>{a + corrupted + c} << QList<QByteArray>{a, c};
    QTest::newRow("cut frame then whole one") << QList<QByteArray>{a.left(9), b} << QList<QByteArray>{b};
    QTest::newRow("frame followed by one byte") << QList<QByteArray>{a + hex("42")} << QList<QByteArray>{a};
    QTest::newRow("short reads only") << split(a.left(12), {4, 8}) << QList<QByteArray>{};
    QTest::newRow("empty read") << QList<QByteArray>{QByteArray(), a, QByteArray()} << QList<QByteArray>{a};
    QTest::newRow("all zero bytes") << QList<QByteArray>{QByteArray(64, '\0')} << QList<QByteArray>{};
}

void TestFrameReader::streams()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, expected);
    FrameReader reader;
    QCOMPARE(feedAll(reader, reads), expected);
}

void TestFrameReader::oneByteAtATime()
{
    QByteArray stream;
    QList<QByteArray> expected;
    for (uint32_t v = 0; v < 20; ++v) {
        const QByteArray frame = reportWithValue(v * 1000);
        stream += QByteArray(int(v % 4), char(0x5A)) + frame;
        expected << frame;
    }
    QList<QByteArray> reads;
    for (char byte : stream)
        reads << QByteArray(1, byte);
    FrameReader reader;
    QCOMPARE(feedAll(reader, reads), expected);
}

void TestFrameReader::boundedWhateverArrives()
{
    // Random bytes in random reads; frames mixed in still come out in order.
    QRandomGenerator rng(1234);
    QByteArray stream;
    QList<QByteArray> expected;
    for (int i = 0; i < 200; ++i) {
        QByteArray junk(int(rng.bounded(40)), Qt::Uninitialized);
        for (char &ch : junk)
            ch = char(rng.bounded(256));
        // The seed is fixed, so no run finds a valid frame inside the junk.
        const QByteArray frame = reportWithValue(uint32_t(i));
        stream += junk + frame;
        expected << frame;
    }
    QList<int> cuts;
    for (int at = int(rng.bounded(30)); at < stream.size(); at += 1 + int(rng.bounded(50)))
        cuts << at;
    FrameReader reader;
    const QList<QByteArray> found = feedAll(reader, split(stream, cuts));
    QCOMPARE(found.size(), expected.size());
    QCOMPARE(found, expected);
}

void TestFrameReader::resetDropsKeptBytes()
{
    FrameReader reader;
    QVERIFY(reader.feed(report.left(10)).empty());
    QCOMPARE(reader.pendingSize(), 10);
    reader.reset();
    QCOMPARE(reader.pendingSize(), 0);
    QVERIFY(reader.feed(report.mid(10)).empty());
    QCOMPARE(feedAll(reader, {report}), QList<QByteArray>{report});
}

QTEST_GUILESS_MAIN(TestFrameReader)
#include "tst_framereader.moc"

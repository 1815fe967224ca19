// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing against a real broker (mosquittobroker.h): delivery across its
// restart, the last will of a killed publisher, refusals with their reasons,
// the queue's bound.

#include "linereader.h"
#include "mosquittobroker.h"
#include "mqttclient.h"
#include "ptyboard.h"
#include "reportpublisher.h"
#include "reports.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

namespace {

const QByteArray User = MosquittoBroker::User;
const QByteArray Password = MosquittoBroker::Password;

} // namespace

class TestBroker : public QObject
{
    Q_OBJECT

    MosquittoBroker m_mqtt;

    BrokerUrl url(bool tls) const { return m_mqtt.url(tls, QStringLiteral("lab/bench 1")); }

    ReportPublisher::Settings publisherSettings() const
    {
        ReportPublisher::Settings settings;
        settings.url = url(false);
        settings.password = Password;
        settings.board = QStringLiteral("board,1");
        settings.firstRetryMs = 200;
        return settings;
    }

private slots:
    void initTestCase()
    {
        const QString missing = m_mqtt.missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(m_mqtt.setUp());
    }

    void cleanupTestCase() { m_mqtt.stop(); }

    void deliveryAcrossRestart()
    {
        Subscriber subscriber(url(false), "restart-watcher");
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.client.isConnected(), 5000);
        ReportPublisher publisher;
        publisher.start(publisherSettings());
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), 5000);

        // Two reports a read every 10 ms: the pair shares its arrival time.
        uint32_t sent = 0;
        QTimer feed;
        connect(&feed, &QTimer::timeout, this, [&] {
            const Arrival now = Arrival::now();
            publisher.append(now, reportFrame(400000000 + sent++));
            publisher.append(now, reportFrame(400000000 + sent++));
        });
        feed.start(10);
        QTest::qWait(300);
        // The broker hangs, with messages in flight that it will never
        // acknowledge, then dies; its saved state brings the subscriber's
        // session back, and the publisher has to send those messages again.
        ::kill(pid_t(m_mqtt.process().processId()), SIGSTOP);
        QTest::qWait(300);
        ::kill(pid_t(m_mqtt.process().processId()), SIGKILL);
        m_mqtt.process().waitForFinished(5000);
        QTest::qWait(1000);
        QVERIFY(!publisher.isConnected());
        QVERIFY(publisher.queuedMessages() > 5);
        QVERIFY(m_mqtt.start());
        QTest::qWait(300);
        feed.stop();
        publisher.flush();

        QTRY_COMPARE_WITH_TIMEOUT(subscriber.reports.size(), int(sent), 10000);
        QCOMPARE(publisher.lost(), qint64(0));
        for (int i = 0; i < subscriber.reports.size(); ++i) {
            QCOMPARE(subscriber.reports[i].seq, qint64(i + 1));
            QCOMPARE(subscriber.reports[i].value, uint32_t(400000000 + i));
            QVERIFY(i == 0 || subscriber.reports[i].timeNs > subscriber.reports[i - 1].timeNs);
        }
        // Batched, not a message per report.
        QVERIFY2(subscriber.messages * 4 < int(sent), qPrintable(QString::number(subscriber.messages)));
        publisher.stop();
    }

    void queueBoundDropsOldest()
    {
        Subscriber subscriber(url(false), "bound-watcher");
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.client.isConnected(), 5000);
        m_mqtt.stop();

        ReportPublisher::Settings settings = publisherSettings();
        settings.queueBytes = 4000;
        ReportPublisher publisher;
        publisher.start(settings);
        const Arrival at = Arrival::now();
        for (int batch = 0; batch < 10; ++batch) {
            for (int i = 0; i < 10; ++i)
                publisher.append(at, reportFrame(uint32_t(batch * 10 + i)));
            publisher.flush();
            QVERIFY(publisher.queuedBytes() <= 4000);
        }
        QCOMPARE(publisher.lost() + 10 * publisher.queuedMessages(), qint64(100));
        QVERIFY(publisher.lost() > 0);
        QVERIFY(publisher.queuedMessages() >= 2);  // about 1.3 kB each
        QVERIFY(publisher.takeSummary(0).contains("\"lost\": " + QByteArray::number(publisher.lost()) + '}'));

        QVERIFY(m_mqtt.start());
        const qint64 kept = 100 - publisher.lost();
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.reports.size(), int(kept), 10000);
        for (int i = 0; i < kept; ++i)
            QCOMPARE(subscriber.reports[i].seq, publisher.lost() + i + 1);  // the newest, 100 the last
        publisher.stop();
    }

    void statusAndLastWill()
    {
        Subscriber subscriber(url(false), "will-watcher");
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.client.isConnected(), 5000);

        // A publisher in a process of its own, killed without a word.
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--publisher-child"), QString::number(m_mqtt.port())});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("connected"));
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.statuses.contains("online"), 5000);
        child.kill();
        child.waitForFinished(5000);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.statuses.last(), QByteArray("offline"), 5000);

        // Retained: a subscriber arriving later still learns the state.
        ReportPublisher publisher;
        publisher.start(publisherSettings());
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), 5000);
        Subscriber late(url(false), "late-watcher");
        QTRY_COMPARE_WITH_TIMEOUT(late.statuses.value(0), QByteArray("online"), 5000);
        // An orderly stop sends no will; "offline" must come from the stop itself.
        publisher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(late.statuses.last(), QByteArray("offline"), 5000);
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("detail");
        QTest::newRow("wrong password") << false << QByteArray("guess") << QString() << int(BrokerError::WrongPassword)
                                        << "not authorised";
        QTest::newRow("another CA") << true << Password << "other.crt" << int(BrokerError::NotVerified)
                                    << "certificate verify failed";
        QTest::newRow("missing CA file") << true << Password << "none.crt" << int(BrokerError::CaFile) << "none.crt";
        QTest::newRow("unknown host") << false << Password << QString() << int(BrokerError::UnknownHost)
                                      << "no-such-host.invalid";
        QTest::newRow("nothing listening") << false << Password << QString() << int(BrokerError::Refused)
                                           << "Connection refused";
    }

    void refusals()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, password);
        QFETCH(QString, ca);
        QFETCH(int, code);
        QFETCH(QString, detail);
        MqttClient client;
        QSignalSpy failures(&client, &MqttClient::failed);
        MqttClient::Options options;
        options.url = url(tls);
        if (code == BrokerError::Refused)
            options.url.port = MosquittoBroker::freePort();
        if (code == BrokerError::UnknownHost)
            options.url.host = QStringLiteral("no-such-host.invalid");
        options.password = password;
        options.caFile = ca.isEmpty() ? QString() : m_mqtt.path(ca.toLatin1().constData());
        options.firstRetryMs = 50;
        client.start(options);
        // It goes on trying, waiting twice as long each time.
        QTRY_VERIFY_WITH_TIMEOUT(failures.size() >= 2, 30000);  // a resolver may take its time
        QVERIFY(!client.isConnected());
        const BrokerError error = failures.at(0).at(0).value<BrokerError>();
        QCOMPARE(int(error.code), code);
        QVERIFY2(error.describe().contains(detail, Qt::CaseInsensitive), qPrintable(error.describe()));
        QVERIFY(!error.describe().contains(QString::fromUtf8(Password)));
        QVERIFY(client.retryDelayMs() >= 200);
    }

    void trustedTlsIdlesQuietly()
    {
        MqttClient client;
        MqttClient::Options options;
        options.url = url(true);
        options.password = Password;
        options.caFile = m_mqtt.path("ca.crt");
        client.start(options);
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), 5000);
        QSignalSpy published(&client, &MqttClient::published);
        const int mid = client.publish(options.url.topic("status"), "online", 1, false);
        QVERIFY(mid >= 0);
        QTRY_COMPARE(published.value(0).value(0).toInt(), mid);
        // Connected and idle, the loop sleeps: a notifier that fires on a
        // writable socket with nothing to write would use a whole core.
        const double before = processCpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(processCpuSeconds() - before < 0.2, "the connection keeps the CPU busy while idle");
        client.stop();
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<BrokerError>();
    if (argc == 3 && qstrcmp(argv[1], "--publisher-child") == 0) {
        ReportPublisher publisher;
        ReportPublisher::Settings settings;
        settings.url.host = QStringLiteral("127.0.0.1");
        settings.url.port = quint16(QByteArray(argv[2]).toUInt());
        settings.url.user = QString::fromUtf8(User);
        settings.url.prefix = QStringLiteral("lab/bench 1");
        settings.password = Password;
        QObject::connect(&publisher, &ReportPublisher::connected, [] {
            std::fputs("connected\n", stdout);
            std::fflush(stdout);
        });
        publisher.start(settings);
        QTimer::singleShot(20000, &app, &QCoreApplication::quit);  // never outlives a failed test
        return app.exec();
    }
    TestBroker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_broker.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of a broker, against a real mosquitto on loopback:
// publishing, the remote window, and the broker dialog.

#include "commandline.h"
#include "mainwindow.h"
#include "mosquittobroker.h"
#include "privatesettings.h"
#include "ptyboard.h"
#include "publishcontrol.h"
#include "recordingwindow.h"
#include "remotewindow.h"
#include "reporthistory.h"
#include "reports.h"
#include "windowdriver.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

using namespace orvale;

class TestRemote : public QObject
{
    Q_OBJECT

    MosquittoBroker m_mqtt;
    QTemporaryDir m_dir;

    BrokerChoice broker(const QString &prefix, const QByteArray &password = MosquittoBroker::Password) const
    {
        return BrokerChoice{m_mqtt.url(false, prefix), password, QString()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(usePrivateSettings());
        QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
        QCoreApplication::setApplicationName(QStringLiteral("orvale-qv"));
        registerFrameMetaType();
        qRegisterMetaType<BrokerError>();
        const QString missing = m_mqtt.missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(m_mqtt.setUp());
    }

    // Faults: a report that reaches the recorder but not the publisher (or
    // only the displayed one of a read); the remote history fed times in
    // another unit, or values off by the volts' rounding; a view that does
    // not follow its history.
    void remoteFiguresEqualRecording()
    {
        PtyBoard board;
        MainWindow main;
        const QString recording = m_dir.filePath(QStringLiteral("published.csv"));
        QVERIFY(main.startRecording(recording));
        openOn(main, board.path);
        main.publishing().start(broker(QStringLiteral("lab/window")));
        QTRY_COMPARE_WITH_TIMEOUT(text(main, "publishLabel"), QStringLiteral("MQTT：已连接，发布中"), 5000);

        auto *remote = new RemoteWindow(broker(QStringLiteral("lab/window")), &main);
        remote->show();
        QCOMPARE(remote->windowTitle(), QStringLiteral("远程 — lab/window"));
        QTRY_COMPARE_WITH_TIMEOUT(text(*remote, "remoteStatus"), QStringLiteral("在线"), 5000);

        // Several reports a read, a rate change and noise around 3.7 V.
        int sent = 0;
        for (int chunk = 0; chunk < 40; ++chunk) {
            QByteArray bytes;
            for (int i = 0; i < 5; ++i, ++sent)
                bytes += reportBytes(370000000u + uint32_t((sent * 7919) % 1201), sent < 120 ? 1 : 3);
            QVERIFY(board.write(bytes));
            QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(remote->history().size(), qint64(sent), 10000);
        QCOMPARE(text(*remote, "remoteLost"), QStringLiteral("丢失 0 条"));
        main.stopRecording();

        main.openRecording({recording});
        auto *recorded = child<RecordingWindow>(main, "recordingWindow");
        QTRY_VERIFY_WITH_TIMEOUT(!recorded->isLoading(), 10000);
        // The whole of both, as the recording window opens.
        auto *span = child<QComboBox>(*remote, "trendSpan");
        span->setCurrentIndex(span->count() - 1);
        QTRY_COMPARE_WITH_TIMEOUT(text(*remote, "statCount"), QStringLiteral("%1 条").arg(sent), 3000);
        const QList<QLabel *> figures = remote->findChildren<QLabel *>(QRegularExpression(QStringLiteral("^stat[A-Z]")));
        QVERIFY(figures.size() >= 10);
        for (QLabel *figure : figures)
            QCOMPARE(figure->text(), child<QLabel>(*recorded, figure->objectName().toLatin1().constData())->text());
        main.publishing().stop();
        QTRY_VERIFY(!main.findChild<QLabel *>(QStringLiteral("publishLabel")));
    }

    // Faults: the status topic ignored or read the wrong way round, no
    // "offline" at an orderly stop, a second start not seen.
    void statusFollowsPublisher()
    {
        RemoteWindow remote(broker(QStringLiteral("lab/status")));
        QTRY_VERIFY_WITH_TIMEOUT(text(remote, "remoteBroker").startsWith(QStringLiteral("已连接")), 5000);
        QCOMPARE(text(remote, "remoteStatus"), QStringLiteral("离线"));
        MainWindow main;
        for (int round = 0; round < 2; ++round) {
            main.publishing().start(broker(QStringLiteral("lab/status")));
            QTRY_COMPARE_WITH_TIMEOUT(text(remote, "remoteStatus"), QStringLiteral("在线"), 5000);
            main.publishing().stop();
            QTRY_COMPARE_WITH_TIMEOUT(text(remote, "remoteStatus"), QStringLiteral("离线"), 5000);
        }
    }

    // Faults: a gap in seq not shown. The reader's counting of gaps and
    // repeats is tst_lineprotocol's; times and rates are checked above
    // against the recording.
    void lostCountsGaps()
    {
        RemoteWindow remote(broker(QStringLiteral("lab/gaps")));
        MqttClient sender;
        MqttClient::Options options;
        options.url = m_mqtt.url(false, QStringLiteral("lab/gaps"));
        options.password = MosquittoBroker::Password;
        sender.start(options);
        QTRY_VERIFY_WITH_TIMEOUT(sender.isConnected() && text(remote, "remoteBroker").startsWith(QStringLiteral("已连接")),
                                 5000);
        QByteArray lines;
        for (qint64 seq : {1, 2, 5})
            lineprotocol::appendLine(lines, "b", lineprotocol::settingsTags(COMM_UART_OBJ{}), 370000000, seq, seq);
        QVERIFY(sender.publish(options.url.topic("reports"), lines, 1, false) >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(text(remote, "remoteLost"), QStringLiteral("丢失 2 条"), 5000);
        QCOMPARE(remote.history().size(), qint64(3));
        sender.stop();
    }

    // Faults: --publish's password file not read (or its line end kept), a
    // missing one not refused; a refusal shown as a bare code or not at all,
    // publishing that gives up instead of trying again.
    void refusalInWords()
    {
        MainWindow main;
        StartOptions options;
        options.broker.publish = m_mqtt.url(false, QStringLiteral("lab/refused"));
        options.broker.passwordFile = m_dir.filePath(QStringLiteral("none"));
        QVERIFY(main.prepareStart(options).startsWith(QStringLiteral("--mqtt-password-file: cannot read")));
        QVERIFY(!main.publishing().isPublishing());
        QFile file(options.broker.passwordFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(MosquittoBroker::Password) + '\n') > 0);
        file.close();
        QCOMPARE(main.prepareStart(options), QString());
        QTRY_COMPARE_WITH_TIMEOUT(text(main, "publishLabel"), QStringLiteral("MQTT：已连接，发布中"), 5000);
        main.publishing().start(broker(QStringLiteral("lab/refused"), "guess"));
        QTRY_COMPARE_WITH_TIMEOUT(text(main, "publishLabel"), QStringLiteral("MQTT：用户名或密码错误，稍后重试"), 5000);
        QVERIFY(main.publishing().isPublishing());
        main.publishing().stop();
    }

    // Faults: the password written to the settings file; a setting not
    // read back; an address that does not read accepted.
    void dialogRemembersAllButPassword()
    {
        const char *const fields[] = {"brokerUrl", "brokerUser", "brokerPassword", "brokerCa"};
        const QStringList typed{"mqtts://broker.lab:8884/lab/b1", "ops", "Zebra-Quartz-77", "/etc/lab/ca.crt"};
        {
            BrokerDialog dialog(QStringLiteral("发布到 MQTT"), QStringLiteral("publish"));
            child<QLineEdit>(dialog, "brokerUrl")->setText(QStringLiteral("mqtt://broker/lab/#"));
            dialog.accept();
            QVERIFY(text(dialog, "brokerError").startsWith(QStringLiteral("地址无效：主题前缀无效")));
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            for (int i = 0; i < 4; ++i)
                child<QLineEdit>(dialog, fields[i])->setText(typed[i]);
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            const BrokerChoice choice = dialog.choice();
            QVERIFY(choice.url.tls && choice.url.port == 8884 && choice.url.user == QStringLiteral("ops"));
            QCOMPARE(choice.password, QByteArray("Zebra-Quartz-77"));
            QCOMPARE(choice.caFile, typed[3]);
        }
        BrokerDialog again(QStringLiteral("发布到 MQTT"), QStringLiteral("publish"));
        BrokerDialog remote(QStringLiteral("打开远程"), QStringLiteral("remote"));  // a broker of its own
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(child<QLineEdit>(again, fields[i])->text(), i == 2 ? QString() : typed[i]);
            QVERIFY(child<QLineEdit>(remote, fields[i])->text().isEmpty());
        }
        QSettings settings;
        for (const QString &key : settings.allKeys())
            QVERIFY2(!settings.value(key).toString().contains(typed[2]), qPrintable(key));
    }
};

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"

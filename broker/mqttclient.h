// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokererror.h"
#include "brokerurl.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

#include <functional>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

// One MQTT connection on the Qt event loop: libmosquitto driven by notifiers
// on its socket and a timer for its keep-alive, never a busy loop; only the
// name lookup, which can block, runs on a short-lived thread. It connects without blocking, and after any failure waits and
// tries again, the wait doubling up to MaxRetryMs. Every attempt starts from
// a fresh libmosquitto handle, so nothing of a dead connection is resent
// behind the caller's back: what has to survive a reconnect (queued reports)
// is the caller's to keep.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int FirstRetryMs = 500;
    static constexpr int MaxRetryMs = 30000;
    static constexpr int AttemptTimeoutMs = 15000;
    static constexpr int KeepAliveSeconds = 15;

    struct Options
    {
        BrokerUrl url;
        QByteArray password;
        QString caFile;  // empty: the system's certificate store
        QByteArray willTopic;
        QByteArray willPayload;
        // A fixed id and a kept session let a subscriber find what the
        // broker held for it while it was away; empty: a fresh random id.
        QByteArray clientId;
        bool cleanSession = true;
        int firstRetryMs = FirstRetryMs;
    };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts connecting; failures come as failed(), never as a block.
    void start(const Options &options);
    // Closes the connection cleanly (no last will) and stops retrying.
    void stop();
    bool isConnected() const { return m_connected; }
    bool isRunning() const { return m_running; }
    // The wait before the next attempt, while waiting.
    int retryDelayMs() const { return m_retryMs; }
    BrokerError lastError() const { return m_lastError; }

    // Hands a message to the connection: its id, which published() reports
    // once the broker has it (at once for QoS 0), or -1 when not connected.
    [[nodiscard]] int publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    // Subscribed at every connection from now on.
    void subscribe(const QByteArray &topic, int qos);

    // Runs the connection without the event loop until `done` is true, the
    // connection is lost or `msecs` have passed; for an orderly stop, when the
    // event loop may be about to end. True when `done`.
    bool runUntil(const std::function<bool()> &done, int msecs);

signals:
    void connected();
    // A connection or an attempt ended; the next attempt is scheduled.
    void failed(const BrokerError &error);
    void published(int messageId);
    void messageReceived(const QByteArray &topic, const QByteArray &payload);

private:
    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onDisconnect(struct mosquitto *, void *self, int rc);
    static void onPublish(struct mosquitto *, void *self, int mid);
    static void onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(struct mosquitto *, void *self, int level, const char *text);

    void attempt();
    void watchSocket();
    void afterCall(int rc);
    void fail(BrokerError error);
    void teardown();
    void updateWriteInterest();
    BrokerError errorOf(int rc) const;

    Options m_options;
    struct mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_miscTimer;
    QTimer m_retryTimer;
    QTimer m_attemptTimer;
    QList<QPair<QByteArray, int>> m_subscriptions;
    BrokerError m_pending;  // set by a callback, acted on after libmosquitto returns
    BrokerError m_lastError;
    QString m_tlsReason;
    std::function<void()> m_abandonLookup;  // set while a lookup's thread owns m_mosq
    int m_retryMs = 0;
    bool m_connected = false;
    bool m_running = false;
};

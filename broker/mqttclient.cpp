// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttclient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

void initLibrary()
{
    // Once per process; the library stays until the process ends.
    static const int done = mosquitto_lib_init();
    (void)done;
}

} // namespace

MqttClient::MqttClient(QObject *parent) : QObject(parent)
{
    initLibrary();
    m_miscTimer.setInterval(1000);
    connect(&m_miscTimer, &QTimer::timeout, this, [this] {
        if (m_mosq)
            afterCall(mosquitto_loop_misc(m_mosq));
    });
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &MqttClient::attempt);
    m_attemptTimer.setSingleShot(true);
    m_attemptTimer.setInterval(AttemptTimeoutMs);
    connect(&m_attemptTimer, &QTimer::timeout, this, [this] {
        fail(BrokerError{BrokerError::Timeout, m_options.url.host});
    });
}

MqttClient::~MqttClient()
{
    m_running = false;
    teardown();
}

void MqttClient::start(const Options &options)
{
    stop();
    m_options = options;
    m_running = true;
    m_retryMs = options.firstRetryMs;
    m_lastError = BrokerError();
    attempt();
}

void MqttClient::stop()
{
    m_running = false;
    m_retryTimer.stop();
    if (m_mosq && m_connected) {
        // A clean DISCONNECT tells the broker not to send the last will.
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
    }
    teardown();
}

int MqttClient::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    if (!m_mosq || !m_connected)
        return -1;
    int mid = -1;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), payload.size(), payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    updateWriteInterest();
    return mid;
}

void MqttClient::subscribe(const QByteArray &topic, int qos)
{
    m_subscriptions.append(qMakePair(topic, qos));
    if (m_mosq && m_connected) {
        mosquitto_subscribe(m_mosq, nullptr, topic.constData(), qos);
        updateWriteInterest();
    }
}

bool MqttClient::runUntil(const std::function<bool()> &done, int msecs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const qint64 left = msecs - clock.elapsed();
        if (!m_mosq || !m_connected || left <= 0)
            return false;
        afterCall(mosquitto_loop(m_mosq, int(std::min<qint64>(left, 100)), 1));
    }
    return true;
}

void MqttClient::attempt()
{
    teardown();
    if (!m_running)
        return;
    const BrokerUrl &url = m_options.url;
    m_mosq = mosquitto_new(m_options.clientId.isEmpty() ? nullptr : m_options.clientId.constData(),
                           m_options.clientId.isEmpty() || m_options.cleanSession, this);
    if (!m_mosq) {
        fail(BrokerError{BrokerError::Other, QString::fromLocal8Bit(std::strerror(errno))});
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_log_callback_set(m_mosq, &MqttClient::onLog);
    if (!url.user.isEmpty()) {
        mosquitto_username_pw_set(m_mosq, url.user.toUtf8().constData(),
                                  m_options.password.isNull() ? nullptr : m_options.password.constData());
    }
    if (!m_options.willTopic.isEmpty()) {
        mosquitto_will_set(m_mosq, m_options.willTopic.constData(), m_options.willPayload.size(),
                           m_options.willPayload.constData(), 1, true);
    }
    if (url.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (!m_options.caFile.isEmpty()) {
            QFile ca(m_options.caFile);
            if (!ca.open(QIODevice::ReadOnly)) {
                fail(BrokerError{BrokerError::CaFile, m_options.caFile + QStringLiteral(": ") + ca.errorString()});
                return;
            }
            rc = mosquitto_tls_set(m_mosq, QFile::encodeName(m_options.caFile).constData(), nullptr, nullptr,
                                   nullptr, nullptr);
        } else {
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        }
        // Verify the peer and its name, always: a broker anyone can pose as
        // would receive the lab's data.
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(m_mosq, 1, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(m_mosq, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(errorOf(rc));
            return;
        }
    }
    m_tlsReason.clear();
    m_pending = BrokerError();
    m_attemptTimer.start();

    // The library looks the name up before it connects, and a lookup can
    // take the resolver's whole timeout: it runs on a thread of its own,
    // which owns the handle until it ends. Nothing here touches the handle
    // meanwhile; an attempt given up while it runs leaves the handle to the
    // thread's end, which destroys it.
    struct Lookup
    {
        struct mosquitto *mosq = nullptr;
        int rc = MOSQ_ERR_SUCCESS;
        int error = 0;
        bool abandoned = false;
    };
    auto lookup = std::make_shared<Lookup>();
    lookup->mosq = m_mosq;
    m_abandonLookup = [lookup] { lookup->abandoned = true; };
    const QByteArray host = url.host.toUtf8();
    const int port = url.port;
    QThread *thread = QThread::create([lookup, host, port] {
        lookup->rc = mosquitto_connect_async(lookup->mosq, host.constData(), port, KeepAliveSeconds);
        lookup->error = errno;
    });
    connect(thread, &QThread::finished, thread, [lookup, thread] {
        if (lookup->abandoned)
            mosquitto_destroy(lookup->mosq);
        thread->deleteLater();
    });
    connect(thread, &QThread::finished, this, [this, lookup] {
        if (lookup->abandoned)
            return;
        m_abandonLookup = nullptr;
        if (lookup->rc != MOSQ_ERR_SUCCESS) {
            errno = lookup->error;
            fail(errorOf(lookup->rc));
            return;
        }
        watchSocket();
        m_miscTimer.start();
    });
    thread->start();
}

void MqttClient::watchSocket()
{
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0)
        return;
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_mosq)
            afterCall(mosquitto_loop_read(m_mosq, 1));
    });
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_mosq)
            afterCall(mosquitto_loop_write(m_mosq, 1));
    });
    updateWriteInterest();
}

void MqttClient::updateWriteInterest()
{
    // Writable sockets are the usual case: asking only while something waits
    // to go out keeps an idle connection from waking the loop.
    if (m_writeNotifier && m_mosq)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::afterCall(int rc)
{
    if (m_pending.isError()) {
        fail(m_pending);
    } else if (rc != MOSQ_ERR_SUCCESS) {
        fail(errorOf(rc));
    } else {
        updateWriteInterest();
    }
}

void MqttClient::fail(BrokerError error)  // a copy: teardown() clears m_pending
{
    teardown();
    m_lastError = error;
    if (m_running) {
        m_retryTimer.start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, MaxRetryMs);
    }
    emit failed(error);
}

void MqttClient::teardown()
{
    m_connected = false;
    m_miscTimer.stop();
    m_attemptTimer.stop();
    if (m_abandonLookup) {  // the lookup's thread has the handle
        m_abandonLookup();
        m_abandonLookup = nullptr;
        m_mosq = nullptr;
    }
    // The notifiers go before the handle closes their socket.
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    m_pending = BrokerError();
}

BrokerError MqttClient::errorOf(int rc) const
{
    const QString where = m_options.url.host + QLatin1Char(':') + QString::number(m_options.url.port);
    switch (rc) {
    case MOSQ_ERR_EAI:
        return BrokerError{BrokerError::UnknownHost, m_options.url.host};
    case MOSQ_ERR_ERRNO: {
        const int code = errno;
        const QString reason = QString::fromLocal8Bit(std::strerror(code));
        if (code == ECONNREFUSED)
            return BrokerError{BrokerError::Refused, where + QStringLiteral(": ") + reason};
        if (code == ETIMEDOUT)
            return BrokerError{BrokerError::Timeout, where};
        return BrokerError{BrokerError::ConnectionLost, where + QStringLiteral(": ") + reason};
    }
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        if (m_tlsReason.contains(QLatin1String("verify")))
            return BrokerError{BrokerError::NotVerified, m_tlsReason};
        return BrokerError{BrokerError::Other, QStringLiteral("TLS: ") + m_tlsReason};
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_KEEPALIVE:
        return BrokerError{BrokerError::ConnectionLost, where};
    default:
        return BrokerError{BrokerError::Other, QString::fromUtf8(mosquitto_strerror(rc))};
    }
}

void MqttClient::onConnect(struct mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    if (rc == 0) {
        client->m_connected = true;
        client->m_attemptTimer.stop();
        client->m_retryMs = client->m_options.firstRetryMs;
        client->m_lastError = BrokerError();
        for (const auto &subscription : std::as_const(client->m_subscriptions))
            mosquitto_subscribe(client->m_mosq, nullptr, subscription.first.constData(), subscription.second);
        // Signals go out from here: the handlers may publish, which the
        // library allows inside its callbacks, but must not end the
        // connection, which connected() handlers do not do.
        emit client->connected();
    } else if (rc == 4 || rc == 5) {  // bad user name or password, not authorised
        client->m_pending = BrokerError{BrokerError::WrongPassword, QString::fromUtf8(mosquitto_connack_string(rc))};
    } else {
        client->m_pending = BrokerError{BrokerError::Refused, QString::fromUtf8(mosquitto_connack_string(rc))};
    }
}

void MqttClient::onDisconnect(struct mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    client->m_connected = false;
    if (rc != 0 && !client->m_pending.isError())
        client->m_pending = client->errorOf(rc == MOSQ_ERR_ERRNO ? rc : MOSQ_ERR_CONN_LOST);
}

void MqttClient::onPublish(struct mosquitto *, void *self, int mid)
{
    emit static_cast<MqttClient *>(self)->published(mid);
}

void MqttClient::onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message)
{
    emit static_cast<MqttClient *>(self)->messageReceived(
        QByteArray(message->topic),
        QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}

void MqttClient::onLog(struct mosquitto *, void *self, int level, const char *text)
{
    // OpenSSL's reason for a failed handshake reaches us only here.
    auto *client = static_cast<MqttClient *>(self);
    if ((level & MOSQ_LOG_ERR) && client->m_tlsReason.isEmpty())
        client->m_tlsReason = QString::fromUtf8(text);
}

#include "moc_mqttclient.cpp"

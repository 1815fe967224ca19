// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportpublisher.h"

#include "lineprotocol.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

using namespace orvale;

namespace {

const QByteArray Online = QByteArrayLiteral("online");
const QByteArray Offline = QByteArrayLiteral("offline");
// A batch closes early past this, so one message never grows without end.
constexpr int MaxBatchBytes = 1024 * 1024;

} // namespace

ReportPublisher::ReportPublisher(QObject *parent) : QObject(parent)
{
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(BatchMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &ReportPublisher::flush);
    m_summaryTimer.setInterval(1000);
    connect(&m_summaryTimer, &QTimer::timeout, this, [this] {
        const QByteArray summary = takeSummary(QDateTime::currentMSecsSinceEpoch());
        // Retained and replaced each second: a summary held back while the
        // broker is away would be stale by the time it arrived.
        (void)m_client.publish(m_settings.url.topic("summary"), summary, 1, true);
    });
    connect(&m_client, &MqttClient::connected, this, &ReportPublisher::onConnected);
    connect(&m_client, &MqttClient::published, this, &ReportPublisher::onPublished);
    connect(&m_client, &MqttClient::failed, this, [this](const BrokerError &error) {
        // Whatever was in flight goes again on the next connection.
        for (Message &message : m_queue)
            message.mid = -1;
        m_inFlight = 0;
        emit failed(error);
    });
}

ReportPublisher::~ReportPublisher()
{
    if (m_client.isRunning())
        stop(0);
}

void ReportPublisher::start(const Settings &settings)
{
    m_settings = settings;
    m_boardTag = lineprotocol::escapeTag(settings.board);
    m_summaryTimer.start();
    MqttClient::Options options;
    options.url = settings.url;
    options.password = settings.password;
    options.caFile = settings.caFile;
    options.willTopic = settings.url.topic("status");
    options.willPayload = Offline;
    options.firstRetryMs = settings.firstRetryMs;
    m_client.start(options);
}

void ReportPublisher::stop(int msecs)
{
    m_summaryTimer.stop();
    flush();
    if (m_client.isConnected()) {
        m_client.runUntil([this] { return m_queue.empty(); }, msecs);
        m_statusMid = m_client.publish(m_settings.url.topic("status"), Offline, 1, true);
        if (m_statusMid >= 0)
            m_client.runUntil([this] { return m_statusMid < 0; }, std::max(msecs / 4, 200));
    }
    m_client.stop();
}

void ReportPublisher::append(const Arrival &at, const COMM_UART_OBJ &report)
{
    // One point per series and time in a time-series database: reports of
    // one read, or a clock set back, still get times a nanosecond apart.
    const qint64 ns = std::max(at.utcMs * 1000000, m_lastNs + 1);
    m_lastNs = ns;
    const uint32_t key = uint32_t(report.dev_id) | uint32_t(report.sa_code) << 8 | uint32_t(report.fil_code) << 16
                         | uint32_t(report.ch_code) << 24;
    if (key != m_settingsKey) {
        m_settingsKey = key;
        m_settingsTags = lineprotocol::settingsTags(report);
    }
    lineprotocol::appendLine(m_batch, m_boardTag, m_settingsTags, report.value, ++m_seq, ns);
    ++m_batchReports;

    if (m_count == 0) {
        m_reference = m_min = m_max = report.value;
        m_sum = 0;
        m_sumSquares = 0;
    }
    const double deviation = double(qint64(report.value) - qint64(m_reference));
    ++m_count;
    m_sum += qint64(report.value) - qint64(m_reference);
    m_sumSquares += deviation * deviation;
    m_min = std::min(m_min, report.value);
    m_max = std::max(m_max, report.value);

    if (m_batch.size() >= MaxBatchBytes)
        flush();
    else if (!m_batchTimer.isActive())
        m_batchTimer.start();
}

QByteArray ReportPublisher::takeSummary(qint64 utcMs)
{
    const QByteArray utc = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
    QByteArray json = "{\"utc\": \"" + utc + "\", \"reports\": " + QByteArray::number(m_count);
    if (m_count > 0) {
        const double meanDeviation = double(m_sum) / double(m_count);
        const double variance = std::max(0.0, m_sumSquares / double(m_count) - meanDeviation * meanDeviation);
        json += ", \"mean_v\": " + QByteArray::number((double(m_reference) + meanDeviation) * 1e-8, 'f', 10);
        json += ", \"min_v\": " + lineprotocol::voltsText(m_min);
        json += ", \"max_v\": " + lineprotocol::voltsText(m_max);
        json += ", \"rms_uv\": " + QByteArray::number(std::sqrt(variance) * 1e-2, 'f', 3);
    } else {
        json += ", \"mean_v\": null, \"min_v\": null, \"max_v\": null, \"rms_uv\": null";
    }
    json += ", \"lost\": " + QByteArray::number(m_lost) + '}';
    m_count = 0;
    return json;
}

void ReportPublisher::flush()
{
    m_batchTimer.stop();
    if (m_batchReports == 0)
        return;
    Message message;
    message.payload = m_batch;
    message.reports = m_batchReports;
    m_batch.clear();
    m_batchReports = 0;
    enqueue(std::move(message));
    sendWaiting();
}

void ReportPublisher::enqueue(Message message)
{
    const qint64 bound = m_settings.queueBytes;
    if (message.payload.size() > bound) {
        m_lost += message.reports;
        return;
    }
    // Oldest first; messages already in flight stay, they may have arrived.
    auto it = m_queue.begin();
    while (m_queuedBytes + message.payload.size() > bound && it != m_queue.end()) {
        if (it->mid >= 0) {
            ++it;
            continue;
        }
        m_lost += it->reports;
        m_queuedBytes -= it->payload.size();
        it = m_queue.erase(it);
    }
    if (m_queuedBytes + message.payload.size() > bound) {
        m_lost += message.reports;
        return;
    }
    m_queuedBytes += message.payload.size();
    m_queue.push_back(std::move(message));
}

void ReportPublisher::sendWaiting()
{
    if (!m_client.isConnected())
        return;
    const QByteArray topic = m_settings.url.topic("reports");
    for (Message &message : m_queue) {
        if (m_inFlight >= MaxInFlight)
            break;
        if (message.mid >= 0)
            continue;
        message.mid = m_client.publish(topic, message.payload, 1, false);
        if (message.mid < 0)
            break;
        ++m_inFlight;
    }
}

void ReportPublisher::onConnected()
{
    (void)m_client.publish(m_settings.url.topic("status"), Online, 1, true);
    sendWaiting();
    emit connected();
}

void ReportPublisher::onPublished(int mid)
{
    if (mid == m_statusMid) {
        m_statusMid = -1;
        return;
    }
    const auto it = std::find_if(m_queue.begin(), m_queue.end(), [mid](const Message &m) { return m.mid == mid; });
    if (it == m_queue.end())
        return;
    m_delivered += it->reports;
    m_queuedBytes -= it->payload.size();
    --m_inFlight;
    m_queue.erase(it);
    sendWaiting();
}

#include "moc_reportpublisher.cpp"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remotewindow.h"

#include "commframe.h"
#include "failuretexts.h"
#include "reporthistory.h"
#include "trendview.h"

#include <QBoxLayout>
#include <QLabel>

RemoteWindow::RemoteWindow(const BrokerChoice &source, QWidget *parent)
    : QWidget(parent, Qt::Window), m_source(source), m_history(std::make_unique<ReportHistory>()),
      m_view(new TrendView(m_history.get(), this))
{
    setObjectName(QStringLiteral("remoteWindow"));
    setWindowTitle(tr("远程 — ") + source.url.prefix);
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("remoteStatus"));
    m_lost = new QLabel(this);
    m_lost->setObjectName(QStringLiteral("remoteLost"));
    m_broker = new QLabel(this);
    m_broker->setObjectName(QStringLiteral("remoteBroker"));
    QHBoxLayout *row = m_view->placeUnderRow(this);
    row->addWidget(m_status);
    row->addSpacing(16);
    row->addWidget(m_lost);
    row->addSpacing(16);
    row->addWidget(m_broker);
    row->addStretch();
    // Until the broker says otherwise (its retained status comes first).
    showStatus(false);
    m_lost->setText(tr("丢失 %1 条").arg(0));

    connect(&m_client, &MqttClient::messageReceived, this, &RemoteWindow::onMessage);
    connect(&m_client, &MqttClient::connected, this, [this] {
        m_error = BrokerError();
        showConnection();
    });
    connect(&m_client, &MqttClient::failed, this, [this](const BrokerError &error) {
        m_error = error;
        // Cut off from the broker, the board cannot be seen either way.
        showStatus(false);
        showConnection();
    });
    m_client.subscribe(source.url.topic("reports"), 1);
    m_client.subscribe(source.url.topic("status"), 1);
    MqttClient::Options options;
    options.url = source.url;
    options.password = source.password;
    options.caFile = source.caFile;
    m_client.start(options);
    showConnection();
}

RemoteWindow::~RemoteWindow()
{
    // The view reads the history: it goes first.
    delete m_view;
    m_view = nullptr;
}

void RemoteWindow::askAndOpen(QWidget *parent)
{
    BrokerDialog dialog(tr("打开远程"), QStringLiteral("remote"), parent);
    if (dialog.exec() == QDialog::Accepted)
        (new RemoteWindow(dialog.choice(), parent))->show();
}

void RemoteWindow::onMessage(const QByteArray &topic, const QByteArray &payload)
{
    if (topic.endsWith("/status")) {
        if (payload == "online" || payload == "offline")
            showStatus(payload == "online");
        return;
    }
    const qint64 lostBefore = m_reader.lost();
    for (const orvale::lineprotocol::LineReport &report : m_reader.read(payload))
        m_history->append(report.timeNs / 1000000, report.value, rateCode(report.sampleRate));
    if (m_reader.lost() != lostBefore)
        m_lost->setText(tr("丢失 %1 条").arg(m_reader.lost()));
}

uint8_t RemoteWindow::rateCode(const QString &text)
{
    if (text == m_rateText)
        return m_rateCode;
    m_rateText = text;
    // A code outside the table travels as its "0x7" text; anything else is
    // an unknown rate, as a recording's would be.
    m_rateCode = 0xFF;
    if (!orvale::textToCode(orvale::sa_table, text, m_rateCode) && text.startsWith(QLatin1String("0x"))) {
        bool ok = false;
        const uint code = text.mid(2).toUInt(&ok, 16);
        if (ok && code <= 0xFF)
            m_rateCode = uint8_t(code);
    }
    return m_rateCode;
}

void RemoteWindow::showStatus(bool online)
{
    m_status->setText(online ? tr("在线") : tr("离线"));
    m_status->setStyleSheet(online ? QStringLiteral("color: #1b7f2a; font-weight: bold")
                                   : QStringLiteral("color: #b00020; font-weight: bold"));
}

void RemoteWindow::showConnection()
{
    const QString where = m_source.url.host + QLatin1Char(':') + QString::number(m_source.url.port);
    if (m_client.isConnected())
        m_broker->setText(tr("已连接 ") + where);
    else if (m_error.isError())
        m_broker->setText(tr("%1，稍后重试").arg(orvale::brokerFailureText(m_error)));
    else
        m_broker->setText(tr("正在连接 ") + where + tr("…"));
}

// Compiled with this file, so the build reads its headers once.
#include "moc_remotewindow.cpp"

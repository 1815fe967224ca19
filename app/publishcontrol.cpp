// SPDX-License-Identifier: GPL-3.0-or-later
#include "publishcontrol.h"

#include "brokerdialog.h"
#include "failuretexts.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

PublishControl::PublishControl(QMenu *menu, QStatusBar *bar, std::function<QString()> boardName, QWidget *window)
    : QObject(window), m_window(window), m_bar(bar), m_boardName(std::move(boardName))
{
    menu->addSeparator();
    m_publish = menu->addAction(tr("发布到 MQTT…"));
    m_publish->setObjectName(QStringLiteral("actionPublish"));
    connect(m_publish, &QAction::triggered, this, &PublishControl::askForBroker);
    m_stop = menu->addAction(tr("停止发布"));
    m_stop->setObjectName(QStringLiteral("actionStopPublish"));
    m_stop->setEnabled(false);
    connect(m_stop, &QAction::triggered, this, &PublishControl::stop);
    m_refresh.setInterval(1000);
    connect(&m_refresh, &QTimer::timeout, this, &PublishControl::showState);
}

PublishControl::~PublishControl()
{
    // The window is closing: the queue goes out and "offline" with it, so
    // the boards' watchers see an orderly end rather than the last will.
    if (m_publisher)
        m_publisher->stop();
}

void PublishControl::askForBroker()
{
    BrokerDialog dialog(tr("发布到 MQTT"), QStringLiteral("publish"), m_window);
    if (dialog.exec() == QDialog::Accepted)
        start(dialog.choice());
}

void PublishControl::start(const BrokerChoice &broker, qint64 queueBytes)
{
    if (m_publisher)
        m_publisher->stop();
    ReportPublisher::Settings settings;
    settings.url = broker.url;
    settings.password = broker.password;
    settings.caFile = broker.caFile;
    settings.board = m_boardName();
    if (queueBytes > 0)
        settings.queueBytes = queueBytes;
    m_publisher = std::make_unique<ReportPublisher>();
    m_error = BrokerError();
    m_address = broker.url.toString();
    connect(m_publisher.get(), &ReportPublisher::connected, this, [this] {
        m_error = BrokerError();
        showState();
    });
    connect(m_publisher.get(), &ReportPublisher::failed, this, [this](const BrokerError &error) {
        m_error = error;
        showState();
    });
    m_publisher->start(settings);
    m_refresh.start();
    showState();
}

void PublishControl::stop()
{
    m_refresh.stop();
    if (m_publisher) {
        m_publisher->stop();
        m_publisher.reset();
    }
    showState();
}

void PublishControl::showState()
{
    m_stop->setEnabled(m_publisher != nullptr);
    if (!m_publisher) {
        if (m_label) {
            m_bar->removeWidget(m_label);
            m_label->deleteLater();
            m_label = nullptr;
        }
        return;
    }
    if (!m_label) {
        m_label = new QLabel(m_bar);
        m_label->setObjectName(QStringLiteral("publishLabel"));
        m_bar->addPermanentWidget(m_label);
    }
    QString text;
    if (m_publisher->isConnected())
        text = tr("MQTT：已连接，发布中");
    else if (m_error.isError())
        text = tr("MQTT：%1，稍后重试").arg(orvale::brokerFailureText(m_error));
    else
        text = tr("MQTT：正在连接…");
    if (m_publisher->lost() > 0)
        text += tr("，丢失 %1 条").arg(m_publisher->lost());
    m_label->setText(text);
    // The whole address, for the operator who wonders where it goes.
    m_label->setToolTip(tr("发布到 ") + m_address);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_publishcontrol.cpp"

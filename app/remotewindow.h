// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokerdialog.h"
#include "linereader.h"
#include "mqttclient.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class ReportHistory;
class TrendView;

// A board that publishes to a broker, watched live: the reports of
// PREFIX/reports fill a history of this window's own, which a trend view
// shows with every analysis page; PREFIX/status says whether the publisher
// is online, and the gaps in seq how many reports never arrived. Nothing is
// ever sent to the board from here: publishing is read-only by design.
class RemoteWindow : public QWidget
{
    Q_OBJECT

public:
    // Subscribes at once, and again after every reconnect.
    explicit RemoteWindow(const BrokerChoice &source, QWidget *parent = nullptr);
    ~RemoteWindow() override;

    // Asks for the broker ("打开远程…") and opens a window on it, a child of `parent`.
    static void askAndOpen(QWidget *parent);

    const ReportHistory &history() const { return *m_history; }
    TrendView &view() const { return *m_view; }
    const LineReader &reader() const { return m_reader; }

private:
    void onMessage(const QByteArray &topic, const QByteArray &payload);
    void showStatus(bool online);
    void showConnection();
    uint8_t rateCode(const QString &text);

    BrokerChoice m_source;
    MqttClient m_client;
    LineReader m_reader;
    std::unique_ptr<ReportHistory> m_history;
    TrendView *m_view = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_lost = nullptr;
    QLabel *m_broker = nullptr;
    BrokerError m_error;
    // The rate text last read and its code: it changes only with the board's setting.
    QString m_rateText;
    uint8_t m_rateCode = 0xFF;
};

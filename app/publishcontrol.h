// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "reportpublisher.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QWidget;
struct BrokerChoice;

// The window's publishing: the menu's "发布到 MQTT…" and "停止发布", the
// status bar's publishLabel, and the publisher that every valid report goes
// to while the operator publishes. The publisher lives only while
// publishing, so a window that never publishes opens no connection.
class PublishControl : public QObject
{
    Q_OBJECT

public:
    // `boardName` gives the board tag when publishing starts: the port's name.
    PublishControl(QMenu *menu, QStatusBar *bar, std::function<QString()> boardName, QWidget *window);
    ~PublishControl() override;

    // Publishes from now on (again, when already publishing); `queueBytes`
    // 0 keeps the publisher's own bound.
    void start(const BrokerChoice &broker, qint64 queueBytes = 0);
    // Sends what is queued and "offline", for at most two seconds.
    void stop();
    bool isPublishing() const { return m_publisher != nullptr; }
    // Null while not publishing.
    ReportPublisher *publisher() const { return m_publisher.get(); }

    void append(const Arrival &at, const COMM_UART_OBJ &report)
    {
        if (m_publisher)
            m_publisher->append(at, report);
    }

private:
    void askForBroker();
    void showState();

    QWidget *m_window = nullptr;
    QStatusBar *m_bar = nullptr;
    std::function<QString()> m_boardName;
    QAction *m_publish = nullptr;
    QAction *m_stop = nullptr;
    QLabel *m_label = nullptr;
    std::unique_ptr<ReportPublisher> m_publisher;
    QString m_address;
    BrokerError m_error;  // the last failure since the last connection
    // The lost count changes without a signal; the label looks once a second.
    QTimer m_refresh;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal. The handler only writes
// the signal number into a pipe; everything else (removing the link, the
// summary) runs in normal code on the event loop, where it is safe.
class SignalPipe : public QObject
{
    Q_OBJECT

public:
    explicit SignalPipe(QObject *parent = nullptr);
    ~SignalPipe() override;

    // Installs the handlers; false with `error` set when it cannot.
    [[nodiscard]] bool install(QString &error);

signals:
    void received(int signalNumber);

private slots:
    void readPipe();

private:
    QSocketNotifier *m_notifier = nullptr;
};

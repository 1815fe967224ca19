// SPDX-License-Identifier: GPL-3.0-or-later
#include "systemdnotifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

SystemdNotifier::SystemdNotifier(QObject *parent) : QObject(parent)
{
    uint64_t usec = 0;
    // Also checks WATCHDOG_PID, so a child that inherited the variables does
    // not ping on its parent's behalf.
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        m_watchdog.setInterval(int(std::clamp<uint64_t>(usec / 2000, 1, 3600 * 1000)));
        connect(&m_watchdog, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
        m_watchdog.start();
    }
}

void SystemdNotifier::ready(const QString &status)
{
    notify("READY=1\nSTATUS=" + status.toUtf8());
}

void SystemdNotifier::status(const QString &status)
{
    notify("STATUS=" + status.toUtf8());
}

void SystemdNotifier::stopping()
{
    notify("STOPPING=1");
}

bool SystemdNotifier::notify(const QByteArray &state)
{
    return sd_notify(0, state.constData()) > 0;
}

#include "moc_systemdnotifier.cpp"

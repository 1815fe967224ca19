// SPDX-License-Identifier: GPL-3.0-or-later
#include "throttle.h"

#include <utility>

Throttle::Throttle(std::function<void()> action)
    : m_action(std::move(action))
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { runNow(); });
}

void Throttle::request(qint64 intervalMs, qint64 slackMs)
{
    const qint64 elapsed = m_sinceRun.isValid() ? m_sinceRun.elapsed() : intervalMs;
    if (elapsed >= intervalMs)
        runNow();
    else if (!m_timer.isActive())
        m_timer.start(static_cast<int>(intervalMs - elapsed + slackMs));
}

void Throttle::runNow()
{
    m_timer.stop();
    m_action();
    m_sinceRun.start();
}

void Throttle::runPending()
{
    if (m_timer.isActive())
        runNow();
}

void Throttle::cancel()
{
    m_timer.stop();
}

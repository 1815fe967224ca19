// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// Runs an action at most once per interval: at once when the last run was
// long enough ago, otherwise as soon as the interval since it has passed.
// Requests that come in between fold into that one run. With a slack, the
// timer waits that much longer, so that under a steady stream the run rides
// on the next request, in the wake-up that request came with, instead of
// waking the program on its own.
class Throttle
{
public:
    explicit Throttle(std::function<void()> action);

    void request(qint64 intervalMs, qint64 slackMs = 0);
    // Runs the action now; a run already scheduled is dropped.
    void runNow();
    // Runs the action now if a run is scheduled.
    void runPending();
    void cancel();

private:
    std::function<void()> m_action;
    QTimer m_timer;
    QElapsedTimer m_sinceRun;
};

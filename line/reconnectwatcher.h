// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QFileSystemWatcher;

namespace orvale {

// Waits for a vanished port's device node to come back and says when to
// try opening it; the owner opens, so it keeps making its own port object.
//
// It never asks for an opening while the node is absent. A node that is
// present is tried once: an opening that failed is not asked for again
// until the node has gone and come back, since opening a port can reset a
// board and a node that exists but cannot be opened must not be hammered.
// Only stop() ends the wait: the operator's choice, or the owner's
// successful opening.
class ReconnectWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ReconnectWatcher(QObject *parent = nullptr);

    // Waits for the node of `name` (a name or a path, as portPath() reads
    // it), in place of any earlier wait. A node present already is tried
    // at the next look, unless `triedNow`: an opening just failed, so the
    // next waits for the node to go and come back.
    void waitFor(const QString &name, bool triedNow = false);
    void stop();

    [[nodiscard]] bool isWaiting() const { return !m_name.isEmpty(); }
    // The name waited for; empty when not waiting.
    [[nodiscard]] QString name() const { return m_name; }

    // The once-a-second look; the node's folder being watched makes it
    // sooner. Settable so a test need not wait out whole seconds.
    void setCheckInterval(int ms) { m_check.setInterval(ms); }

    // Looks at the node now.
    void check();

signals:
    // Time to try opening `name`; stop() once it is open.
    void openDue(const QString &name);

private:
    QString m_name;
    bool m_mayOpen = false;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer m_check;
};

} // namespace orvale

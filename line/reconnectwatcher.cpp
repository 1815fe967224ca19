// SPDX-License-Identifier: GPL-3.0-or-later
#include "reconnectwatcher.h"

#include "linesettings.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace orvale {

ReconnectWatcher::ReconnectWatcher(QObject *parent) : QObject(parent)
{
    // A look once a second bounds the wait; the watcher on the node's
    // folder makes it sooner. Neither opens anything.
    m_check.setInterval(1000);
    connect(&m_check, &QTimer::timeout, this, &ReconnectWatcher::check);
}

void ReconnectWatcher::waitFor(const QString &name, bool triedNow)
{
    if (name.isEmpty())
        return;
    stop();
    m_name = name;
    m_mayOpen = !triedNow;
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &ReconnectWatcher::check);
    }
    m_watcher->addPath(QFileInfo(portPath(name)).absolutePath());
    m_check.start();
}

void ReconnectWatcher::stop()
{
    m_name.clear();
    m_check.stop();
    if (m_watcher && !m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
}

void ReconnectWatcher::check()
{
    if (m_name.isEmpty())
        return;
    // exists() follows a symbolic link: a link left pointing at a vanished
    // node counts as absent.
    if (!QFileInfo::exists(portPath(m_name))) {
        m_mayOpen = true;
        return;
    }
    if (!m_mayOpen)
        return;
    m_mayOpen = false;
    // Last: the owner may stop the wait, or begin another, from the signal.
    emit openDue(m_name);
}

} // namespace orvale

// Compiled with this file, so the build reads its headers once.
#include "moc_reconnectwatcher.cpp"

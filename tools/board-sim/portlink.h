// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A symbolic link to the board's line under a port-like name (/dev/COM1),
// so that a client can open the board by that name. The simulator may run as
// root for this, so it only ever replaces or removes a symbolic link, and at
// exit it removes the link only while it still points to this run's line.
class PortLink
{
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Makes `linkPath` a symbolic link to `target`. Refuses (false, `error`
    // set) when something other than a symbolic link is at `linkPath`.
    [[nodiscard]] bool create(const QString &linkPath, const QString &target, QString &error);

    // Removes the link if it is still the one made by create(). Returns a
    // note for the user when it left something in place, else empty.
    QString remove();

private:
    QString m_linkPath;
    QString m_target;
};

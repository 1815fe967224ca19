// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QComboBox;

// Keeps the ports listed after a port box's fixed entries in step with the
// machine: at construction, and each time the operator opens the box's list,
// never behind the operator's back (opening a port raises its modem lines,
// which resets some boards).
class PortList : public QObject
{
    Q_OBJECT

public:
    // Names of the ports the system offers now; a name beginning with '/'
    // is a path. Replaceable, because pseudo-terminals are not enumerated.
    using Enumerator = std::function<QStringList()>;

    // Every entry the box holds now stays first and is never touched.
    explicit PortList(QComboBox *box, QObject *parent = nullptr);

    void setEnumerator(Enumerator enumerator);
    static QStringList systemPorts();

    // Removes listed ports that have gone and appends, in the system's
    // order, the unlisted ones that can be opened. A listed port is not
    // opened again; the current entry stays while it is listed.
    void refresh();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QComboBox *m_box;
    int m_fixed;
    Enumerator m_enumerate = &PortList::systemPorts;
};

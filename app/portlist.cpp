// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSerialPort>
#include <QSerialPortInfo>

PortList::PortList(QComboBox *box, QObject *parent)
    : QObject(parent), m_box(box), m_fixed(box->count())
{
    // The form's box is a plain QComboBox: its list is caught opening here,
    // before the box handles the press that opens it.
    box->installEventFilter(this);
}

void PortList::setEnumerator(Enumerator enumerator)
{
    m_enumerate = std::move(enumerator);
}

QStringList PortList::systemPorts()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

void PortList::refresh()
{
    const QStringList present = m_enumerate();

    for (int row = m_box->count() - 1; row >= m_fixed; --row) {
        if (!present.contains(m_box->itemText(row)))
            m_box->removeItem(row);
    }

    QStringList listed;
    for (int row = m_fixed; row < m_box->count(); ++row)
        listed << m_box->itemText(row);

    // Only ports not listed yet are opened, once each, as an operator's
    // open would: a port another program holds cannot be opened and stays out.
    for (const QString &name : present) {
        if (listed.contains(name))
            continue;
        QSerialPort probe;
        probe.setPortName(name);
        if (probe.open(QIODevice::ReadWrite)) {
            probe.close();
            m_box->addItem(name);
            listed << name;
        }
    }
}

bool PortList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_box)
        return false;
    // The presses with which QComboBox opens the list of a box that cannot
    // be edited; a disabled box (port open) receives none of them.
    bool opens = false;
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        opens = static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
    } else if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        opens = (key->key() == Qt::Key_F4 && key->modifiers() == Qt::NoModifier)
                || (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier))
                || (key->key() == Qt::Key_Space && !m_box->isEditable());
    }
    // A press while the list shows closes it instead.
    if (opens && !m_box->view()->isVisible())
        refresh();
    return false;
}

// Compiled with this file, so the build reads its headers once.
#include "moc_portlist.cpp"

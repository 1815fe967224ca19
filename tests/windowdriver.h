// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window suites do as an operator would: find a widget by its name
// (a widget renamed in the form ends the suite at once), open a port, and
// read a file the window wrote.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

template<typename T> T *child(const QObject &parent, const char *name)
{
    T *found = parent.findChild<T *>(QString::fromLatin1(name));
    return found ? found : (qFatal("no %s", name), nullptr);
}

inline QString text(const QObject &parent, const char *label) { return child<QLabel>(parent, label)->text(); }

inline bool isOpen(const QObject &window)
{
    return child<QPushButton>(window, "openButton")->text() == QStringLiteral("关闭串口");
}

// The port by its path, as typed into the box, then 打开串口.
inline void openOn(const QObject &window, const QString &path)
{
    auto *ports = child<QComboBox>(window, "PortBox");
    ports->addItem(path);
    ports->setCurrentIndex(ports->count() - 1);
    child<QPushButton>(window, "openButton")->click();
}

// The last line is empty when the file ends in a line end.
inline QStringList fileLines(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')) : QStringList();
}

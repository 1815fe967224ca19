// SPDX-License-Identifier: GPL-3.0-or-later
// The port list behind "端口号：" against real pseudo-terminals, fed to the
// window through the port list's enumerator as a system's ports would be.

#include "mainwindow.h"
#include "portlist.h"
#include "ptyboard.h"

#include <QComboBox>
#include <QSerialPort>
#include <QTest>

#include <sys/inotify.h>

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void followsTheMachineAtEachOpening();
};

void TestPortList::followsTheMachineAtEachOpening()
{
    PtyBoard appearing, vanishing, held;
    QVERIFY(!appearing.path.isEmpty() && !vanishing.path.isEmpty() && !held.path.isEmpty());
    QSerialPort holder(held.path);
    QVERIFY2(holder.open(QIODevice::ReadWrite), "another program's hold on a port");

    MainWindow window;
    auto *box = window.findChild<QComboBox *>(QStringLiteral("PortBox"));
    QStringList present{vanishing.path, held.path};
    window.findChild<PortList *>()->setEnumerator([&present] { return present; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QStringList fixed;
    for (int n = 1; n <= 20; ++n)
        fixed << QStringLiteral("COM%1").arg(n);
    // Opens the list as the operator does and returns what it offers.
    auto openList = [box] {
        QTest::mouseClick(box, Qt::LeftButton);
        box->hidePopup();
        QStringList items;
        for (int row = 0; row < box->count(); ++row)
            items << box->itemText(row);
        return items;
    };

    QCOMPARE(openList(), fixed + QStringList{vanishing.path});

    box->setCurrentIndex(5);
    present = QStringList{appearing.path, held.path};
    QCOMPARE(openList(), fixed + QStringList{appearing.path});
    QCOMPARE(box->currentText(), QStringLiteral("COM6"));

    // A listed port is never opened again: opening it may reset the board.
    box->setCurrentIndex(20);
    const int watch = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch >= 0 && inotify_add_watch(watch, appearing.path.toLocal8Bit().constData(), IN_OPEN) >= 0);
    QCOMPARE(openList(), fixed + QStringList{appearing.path});
    inotify_event seen;
    QCOMPARE(read(watch, &seen, sizeof seen), -1);
    close(watch);
    QCOMPARE(box->currentText(), appearing.path);
}

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"

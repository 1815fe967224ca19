// SPDX-License-Identifier: GPL-3.0-or-later
// Runs nobody watches: the window waiting for a vanished port, the command
// line, and an orderly end on SIGTERM (a recording meeting a full disk is
// tst_trend's).

#include "commandline.h"
#include "mainwindow.h"
#include "ptyboard.h"
#include "reports.h"
#include "windowdriver.h"

#include "privatesettings.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdarg>
#include <dlfcn.h>
#include <memory>

namespace {

// Every open of the waited-for path, on its way to the C library: an open
// of a missing node fails without a trace anywhere else.
QByteArray watchedPath;
int opensOfWatched = 0;

int countedOpen(const char *symbol, const char *path, int flags, va_list args)
{
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    if (!watchedPath.isEmpty() && watchedPath == path)
        ++opensOfWatched;
    static const auto real = reinterpret_cast<int (*)(const char *, int, ...)>(dlsym(RTLD_NEXT, symbol));
    return real(path, flags, mode);
}

} // namespace

extern "C" int open(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = countedOpen("open", path, flags, args);
    va_end(args);
    return fd;
}

extern "C" int open64(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = countedOpen("open64", path, flags, args);
    va_end(args);
    return fd;
}

class TestUnattended : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindow> m_window;
    template<typename T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    QLabel *waitLabel() { return child<QLabel>("reconnectLabel"); }
    bool waiting() { return waitLabel() && waitLabel()->isVisible(); }

private slots:
    void initTestCase() { QVERIFY(usePrivateSettings()); }

    void reconnect()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyADC"));
        watchedPath = QFile::encodeName(link);
        auto board = std::make_unique<PtyBoard>();
        QVERIFY(QFile::link(board->path, link));
        m_window = std::make_unique<MainWindow>();
        QVERIFY(child<QAction>("actionAutoReconnect")->isChecked());  // on by default
        orvale::StartOptions options;
        options.line.port = link;
        options.open = true;
        QCOMPARE(m_window->prepareStart(options), QString());
        m_window->show();
        QTRY_VERIFY(isOpen(*m_window));

        auto unplug = [&] {
            board.reset();
            // Left pointing at nothing: the system hands the freed pseudo-terminal's
            // number to the next one made, which may be another program's.
            QFile::remove(link);
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("unplugged")), link));
            QTRY_VERIFY(!isOpen(*m_window));
            QVERIFY(m_window->statusBar()->currentMessage().startsWith(QStringLiteral("串口连接已断开：")));
            QVERIFY(waiting());
            QCOMPARE(waitLabel()->text(), QStringLiteral("等待 ") + link + QStringLiteral(" 重新连接…"));
        };
        auto plugIn = [&] {
            board = std::make_unique<PtyBoard>();
            QFile::remove(link);
            QVERIFY(QFile::link(board->path, link));
        };

        // Comes back: reopened within a second, never opened while absent.
        unplug();
        opensOfWatched = 0;
        QTest::qWait(2500);
        QCOMPARE(opensOfWatched, 0);
        plugIn();
        QTRY_VERIFY_WITH_TIMEOUT(isOpen(*m_window), 1500);
        QCOMPARE(opensOfWatched, 1);
        QVERIFY(!waiting());
        QVERIFY(board->write(reportBytes(271828182)));
        QTRY_COMPARE(orvale::recv_obj.value, 271828182u);

        // The operator's choice ends the wait: another port, or 打开串口.
        unplug();
        QTest::qWait(1200);
        child<QComboBox>("PortBox")->activated(0);
        QVERIFY(!waiting());
        plugIn();
        QTest::qWait(2500);
        QVERIFY(!isOpen(*m_window));

        child<QComboBox>("PortBox")->setCurrentText(link);
        QTest::mouseClick(child<QPushButton>("openButton"), Qt::LeftButton);
        unplug();
        QTest::mouseClick(child<QPushButton>("openButton"), Qt::LeftButton);  // fails: nothing there
        QVERIFY(!waiting());
        plugIn();
        QTest::qWait(2500);
        QVERIFY(!isOpen(*m_window));

        // Remembered across runs.
        child<QAction>("actionAutoReconnect")->setChecked(false);
        m_window = std::make_unique<MainWindow>();
        QVERIFY(!child<QAction>("actionAutoReconnect")->isChecked());
        child<QAction>("actionAutoReconnect")->setChecked(true);
        m_window.reset();
        watchedPath.clear();
    }

    // The program itself: what only the window can judge, and the exit status
    // (the parser's refusals are tested in tst_line).
    void badStartExitsTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("option") << QStringList{"--parity", "2"} << "orvale-qv: --parity wants 0 or 1, not \"2\"\n";
        QTest::newRow("baud not offered") << QStringList{"--baud", "12345"}
                                          << "orvale-qv: --baud 12345: not one of 4800, 9600, 115200\n";
        QTest::newRow("record") << QStringList{"--record", "/nonexistent/x.csv"}
                                << "orvale-qv: --record /nonexistent/x.csv: No such file or directory\n";
    }

    void badStartExitsTwo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcess qv;
        qv.start(ORVALE_QV, arguments);
        QVERIFY(qv.waitForFinished(20000));
        QCOMPARE(qv.exitStatus(), QProcess::NormalExit);
        QCOMPARE(qv.exitCode(), 2);
        // Qt's own start-up lines may come first; ours is the last.
        const QStringList err = QString::fromLocal8Bit(qv.readAllStandardError()).split('\n');
        QCOMPARE(err.value(err.size() - 2) + '\n', message);
    }

    void sigtermKeepsRows()
    {
        QTemporaryDir dir;
        PtyBoard board;
        const QString csv = dir.filePath(QStringLiteral("run.csv"));
        QProcess qv;
        qv.start(ORVALE_QV, {"--port", board.path, "--open", "--record", csv});
        QTRY_VERIFY_WITH_TIMEOUT(!board.peerClosed() && fileLines(csv).size() == 2, 10000);  // open, header written
        QVERIFY(board.write(reportBytes(1)));
        QTRY_COMPARE(fileLines(csv).size(), 3);
        // Right after a flush, so the next rows wait for the one a second later.
        for (uint32_t i = 2; i <= 6; ++i)
            QVERIFY(board.write(reportBytes(i)));
        QTest::qWait(200);  // read by the window, not yet written
        qv.terminate();
        QVERIFY(qv.waitForFinished(10000));
        QCOMPARE(qv.exitStatus(), QProcess::NormalExit);
        QCOMPARE(qv.exitCode(), 0);
        QCOMPARE(fileLines(csv).size(), 8);  // header, six rows, and the end of the last
        QVERIFY(board.peerClosed());     // the port was closed too
    }
};

QTEST_MAIN(TestUnattended)
#include "tst_unattended.moc"

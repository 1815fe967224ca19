// SPDX-License-Identifier: GPL-3.0-or-later
// The window over time: a noisy line from the simulated board (15 s, or
// ORVALE_SOAK_SECONDS if longer), then unplug and re-plug cycles (50, or
// ORVALE_UNPLUG_CYCLES if more), each re-plug reopened by the window itself,
// with nothing left behind.

#include "mainwindow.h"
#include "ptyboard.h"
#include "reports.h"
#include "windowdriver.h"

#include "privatesettings.h"

#include <QAction>
#include <QFile>
#include <QLCDNumber>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

class TestRobustness : public QObject
{
    Q_OBJECT

    // Before the window reads its settings: none of the user's are touched.
    bool m_private = usePrivateSettings();
    MainWindow m_window;

private slots:
    void noisyLine()
    {
        const int seconds = qMax(qEnvironmentVariableIntValue("ORVALE_SOAK_SECONDS"), 15);
        QTemporaryDir dir;
        QProcess board;
        board.setStandardErrorFile(dir.filePath("board.log"));
        board.start(ORVALE_BOARD_SIM, {"--rate", "123", "--split", "--corrupt", "7", "--junk", "5", "--seed", "11",
                                       "--log-reports", "--duration", QString::number(seconds)});
        QTRY_VERIFY(board.canReadLine());

        // Everything written into the log, as bytes, and where it was cleared.
        QTextDocument *log = child<QTextEdit>(m_window, "textEdit")->document();
        QByteArray logged;
        QList<int> clearedAt;
        QObject scope;  // ends the connection with this function
        connect(log, &QTextDocument::contentsChange, &scope, [&](int position, int removed, int added) {
            if (removed > 0 && log->isEmpty()) {
                clearedAt << logged.size();
            } else if (added > 0) {
                QTextCursor cursor(log);
                cursor.setPosition(position);
                cursor.setPosition(qMin(position + added, log->characterCount() - 1), QTextCursor::KeepAnchor);
                logged += QByteArray::fromHex(cursor.selectedText().toLatin1());
            }
        });
        m_window.show();
        openOn(m_window, QString::fromLocal8Bit(board.readLine()).trimmed());
        QVERIFY(isOpen(m_window));

        QTRY_VERIFY_WITH_TIMEOUT(board.state() == QProcess::NotRunning, seconds * 1000 + 30000);
        QCOMPARE(board.exitCode(), 0);
        QTRY_VERIFY(!isOpen(m_window));  // the board's end went away with it

        QFile simLog(dir.filePath("board.log"));
        QVERIFY(simLog.open(QIODevice::ReadOnly));
        QByteArray written;
        for (const QByteArray &entry : simLog.readAll().split('\n')) {
            if (entry.startsWith("junk "))
                written += QByteArray::fromHex(entry.mid(5));
            else if (entry.startsWith("report "))
                written += QByteArray::fromHex(entry.mid(7, 47));
        }
        // Between two clearings the log holds an unbroken run of the line; only
        // text still waiting at a clearing is lost. The log holds text back a
        // second, up to three when its insertions grow costly (under the
        // sanitizers, or on a loaded machine), and half a second of slack.
        clearedAt << logged.size();
        int from = 0, linePos = 0, dropped = 0;
        for (int boundary : clearedAt) {
            const int at = written.indexOf(logged.mid(from, boundary - from), linePos);
            QVERIFY2(at >= 0 && (from > 0 || at == 0), qPrintable(QString("log bytes %1-%2").arg(from).arg(boundary)));
            dropped += at - linePos;
            linePos = at + boundary - from;
            from = boundary;
        }
        QCOMPARE(linePos, written.size());
        const double lineBytesPerSecond = double(written.size()) / seconds;
        QVERIFY2(dropped <= (clearedAt.size() - 1) * lineBytesPerSecond * 3.5,
                 qPrintable(QString("%1 bytes at %2 clearings").arg(dropped).arg(clearedAt.size() - 1)));
        // The newest valid report shown: tst_mainwindow's framesAcrossReadsAndWorkedCommand;
        // the frame reader on such a line: fuzz_framereader_replay.
    }

    void unplugCycles()
    {
        // The same port name every time, as an adapter plugged back in would have.
        QTemporaryDir dir;
        const QString portName = dir.filePath(QStringLiteral("ttyADC"));
        int baselineFds = -1;
        // Whatever the last test's board left the window waiting for is forgotten.
        child<QAction>(m_window, "actionAutoReconnect")->setChecked(false);
        child<QAction>(m_window, "actionAutoReconnect")->setChecked(true);
        for (int cycle = 1, cycles = qMax(qEnvironmentVariableIntValue("ORVALE_UNPLUG_CYCLES"), 50); cycle <= cycles; ++cycle) {
            PtyBoard board;
            QFile::remove(portName);
            QVERIFY(QFile::link(board.path, portName));
            if (cycle == 1)
                openOn(m_window, portName);
            QTRY_VERIFY2(isOpen(m_window) && m_window.statusBar()->currentMessage().isEmpty(), qPrintable(m_window.statusBar()->currentMessage()));
            QVERIFY(board.write(reportBytes(uint32_t(cycle))));
            QTRY_COMPARE(qRound64(child<QLCDNumber>(m_window, "lcdNumber")->value() * 1e8), qint64(cycle));

            board.closeBoard();
            QTRY_VERIFY(!isOpen(m_window));
            baselineFds = baselineFds < 0 ? openFds() : baselineFds;
            QCOMPARE(openFds(), baselineFds);
        }
        // A vanished device must not leave the event loop spinning.
        const double before = processCpuSeconds();
        QTest::qWait(500);
        QVERIFY2(processCpuSeconds() - before < 0.25, "CPU busy while closed and idle");
    }
};

QTEST_MAIN(TestRobustness)
#include "tst_robustness.moc"

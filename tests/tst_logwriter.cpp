// The log writer batches reads, yet the log must read exactly as if every
// read had been inserted at the cursor on its own, followed by the jump to
// the end.

#include "logwriter.h"

#include <QTextEdit>
#include <QtTest>

class TestLogWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sparseReadsGoInAtOnce();
    void waitingReadsFollowTheOperatorsCursor();
    void selectionIsReplacedByFirstWaitingRead();
    void operatorInputComesAfterWaitingReads();
    void clearingDropsWaitingText();
    void referenceModeInsertsEveryRead();

private:
    QTextEdit *m_edit = nullptr;
    LogWriter *m_log = nullptr;
};

void TestLogWriter::init()
{
    m_edit = new QTextEdit;
    m_edit->show();
    m_log = new LogWriter(m_edit, m_edit);
}

void TestLogWriter::cleanup()
{
    delete m_edit;
}

void TestLogWriter::sparseReadsGoInAtOnce()
{
    m_log->append(QStringLiteral("01 "));
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("01 "));
    QVERIFY(m_edit->textCursor().atEnd());

    // Reads close together wait for the next insertion, in order.
    m_log->append(QStringLiteral("02 "));
    m_log->append(QStringLiteral("03 04 "));
    QVERIFY(m_log->hasPending());
    QTRY_COMPARE(m_edit->toPlainText(), QStringLiteral("01 02 03 04 "));
    QVERIFY(!m_log->hasPending());
    QVERIFY(m_edit->textCursor().atEnd());
}

void TestLogWriter::waitingReadsFollowTheOperatorsCursor()
{
    m_log->append(QStringLiteral("aa bb "));
    QTextCursor cursor = m_edit->textCursor();
    cursor.setPosition(3);
    m_edit->setTextCursor(cursor);

    // One read at a time would put the first at the cursor, the rest at the end.
    m_log->append(QStringLiteral("01 "));
    m_log->append(QStringLiteral("02 "));
    m_log->append(QStringLiteral("03 "));
    m_log->flush();
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("aa 01 bb 02 03 "));
    QVERIFY(m_edit->textCursor().atEnd());
}

void TestLogWriter::selectionIsReplacedByFirstWaitingRead()
{
    m_log->append(QStringLiteral("aa bb cc "));
    QTextCursor cursor = m_edit->textCursor();
    cursor.setPosition(3);
    cursor.setPosition(6, QTextCursor::KeepAnchor);
    m_edit->setTextCursor(cursor);

    m_log->append(QStringLiteral("01 "));
    m_log->append(QStringLiteral("02 "));
    m_log->flush();
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("aa 01 cc 02 "));
    QVERIFY(m_edit->textCursor().atEnd());
    QVERIFY(!m_edit->textCursor().hasSelection());
}

void TestLogWriter::operatorInputComesAfterWaitingReads()
{
    m_log->append(QStringLiteral("01 "));
    m_log->append(QStringLiteral("02 "));
    QVERIFY(m_log->hasPending());
    // The key press reaches the log only after the waiting read is in.
    QTest::keyClicks(m_edit, QStringLiteral("x"));
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("01 02 x"));

    m_log->append(QStringLiteral("03 "));
    m_log->append(QStringLiteral("04 "));
    QTest::keyClick(m_edit, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClicks(m_edit, QStringLiteral("y"));
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("y01 02 x03 04 "));

    // The cursor still stands after the typed text: the first waiting read
    // lands there before the click is handled, the second at the end.
    m_log->append(QStringLiteral("05 "));
    m_log->append(QStringLiteral("06 "));
    QTest::mouseClick(m_edit->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("y05 01 02 x03 04 06 "));
}

void TestLogWriter::clearingDropsWaitingText()
{
    m_log->append(QStringLiteral("01 "));
    m_log->append(QStringLiteral("02 "));
    QVERIFY(m_log->hasPending());
    m_log->clear();
    QVERIFY(m_edit->toPlainText().isEmpty());
    QVERIFY(!m_log->hasPending());
    QTest::qWait(120);
    QVERIFY(m_edit->toPlainText().isEmpty());

    // After a clearing the next read goes in at once.
    m_log->append(QStringLiteral("03 "));
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("03 "));
}

void TestLogWriter::referenceModeInsertsEveryRead()
{
    m_log->setCoalescing(false);
    m_log->append(QStringLiteral("01 "));
    m_log->append(QStringLiteral("02 "));
    QVERIFY(!m_log->hasPending());
    QCOMPARE(m_edit->toPlainText(), QStringLiteral("01 02 "));
}

QTEST_MAIN(TestLogWriter)
#include "tst_logwriter.moc"

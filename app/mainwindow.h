// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framereader.h"
#include "reporthistory.h"
#include "throttle.h"

#include <QMainWindow>
#include <QSerialPort>
#include <QStringList>

#include <cstdint>

namespace orvale {
struct StartOptions;
class ReconnectWatcher;
}
class Ui_MainWindow;
class LogWriter;
class LcdPainter;
class CsvRecorder;
class TrendWindow;
class PublishControl;
class QAction;
class QLabel;

// The one window of the program and the controller behind it: opens and
// closes the port, shows each report the board sends and sends it new
// settings.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Records every report from now on into `path`, as the menu does once
    // the operator has chosen a file; false (and said so) when it cannot.
    bool startRecording(const QString &path);
    void stopRecording();
    // Opens a recording in a window of its own, as the menu does once the
    // operator has chosen it (several files: one recording, in time order);
    // errors end in the status bar, not a window.
    void openRecording(const QStringList &paths);
    // Publishing to a broker, as "发布到 MQTT…" starts it.
    PublishControl &publishing() const { return *m_publish; }

    // Every valid report received; the receive benchmark fills it to its
    // bound before a run, as an hour of reports would.
    ReportHistory &history() { return m_history; }

    // Takes the command line's choices before the window is shown: the line
    // settings, and the recording, which starts at once. Opening the port
    // and showing the trend window wait for the event loop, so they happen
    // once the window is up. An empty text when all was taken, else why not.
    QString prepareStart(const orvale::StartOptions &options);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_clearButton_clicked();
    void on_openButton_clicked();
    void on_sendButton_clicked();
    void Read_Data();
    uint16_t ModbusCRC16(QByteArray senddata, uint8_t crclen);
    void on_lcdNumber_overflow();
    void on_textEdit_textChanged();
    void onTimeout();

private:
    bool openPort();
    void closePort();
    void releasePort(bool discardBuffered);
    void setSettingsEnabled(bool enabled);
    void onPortError(QSerialPort::SerialPortError error);
    void showNewestReport();
    void setUpDataMenu();
    void askForRecordingFile();
    void onRecordingFailed();
    void showRecordingState();
    void showTrendWindow();
    void askForRecordingToOpen();
    void setUpPortMenu();
    void waitForPort(const QString &name, bool triedNow = false);
    void stopWaiting();
    void reopenWaitedPort(const QString &name);
    void onPortChosen(int index);

    Ui_MainWindow *ui = nullptr;
    QSerialPort *serial = nullptr;

    orvale::FrameReader m_reader;
    LogWriter *m_log = nullptr;
    LcdPainter *m_lcd = nullptr;  // shows values on ui->lcdNumber, repainting only changed digits

    // The LCD and labels show the newest report at most 25 times a second:
    // a value changing faster cannot be read, and each redraw of the large
    // LCD costs more than taking a report. recv_obj itself takes every
    // report at once, so a command always echoes the newest.
    Throttle m_display;
    static constexpr qint64 DisplayIntervalMs = 40;

    // Every valid report, whether the trend window is shown or not.
    ReportHistory m_history;
    CsvRecorder *m_recorder = nullptr;
    TrendWindow *m_trend = nullptr;
    QAction *m_startRecording = nullptr;
    QAction *m_stopRecording = nullptr;
    QLabel *m_recordingLabel = nullptr;
    PublishControl *m_publish = nullptr;

    // After a device vanished, the wait for its node to come back; it says
    // when to open, and the window opens with a new port object.
    QString m_openedPort;
    orvale::ReconnectWatcher *m_reconnect = nullptr;
    QAction *m_autoReconnect = nullptr;
    QLabel *m_reconnectLabel = nullptr;
};

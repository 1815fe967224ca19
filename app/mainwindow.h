// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framereader.h"
#include "reporthistory.h"
#include "throttle.h"

#include <QMainWindow>
#include <QSerialPort>
#include <QTimer>

#include <cstdint>

class Ui_MainWindow;
class LogWriter;
class CsvRecorder;
class TrendWindow;
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
    void openPort();
    void closePort();
    void releasePort(bool discardBuffered);
    void setSettingsEnabled(bool enabled);
    bool applyLineSettings();
    void onPortError(QSerialPort::SerialPortError error);
    void showNewestReport();
    void setUpDataMenu();
    void askForRecordingFile();
    void onRecordingFailed(const QString &reason);
    void showRecordingState();
    void showTrendWindow();

    Ui_MainWindow *ui = nullptr;
    QSerialPort *serial = nullptr;

    orvale::FrameReader m_reader;
    LogWriter *m_log = nullptr;

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
};

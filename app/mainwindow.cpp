// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "brokerdialog.h"
#include "checksum.h"
#include "commandline.h"
#include "commframe.h"
#include "csvrecorder.h"
#include "failuretexts.h"
#include "lcdpainter.h"
#include "linesettings.h"
#include "logwriter.h"
#include "portlist.h"
#include "publishcontrol.h"
#include "reconnectwatcher.h"
#include "trendwindow.h"
#include "recordingreader.h"
#include "recordingwindow.h"
#include "remotewindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageLogger>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

// The icon lives in this static library's resources; without an explicit
// initialisation the linker drops them, as nothing else refers to them.
static void initResources()
{
    Q_INIT_RESOURCE(orvale);
}

using namespace orvale;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), m_display([this] { showNewestReport(); })
{
    ui->setupUi(this);
    initResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/orvale-qv.png")));
    setUpDataMenu();
    setUpPortMenu();

    // Offer every port that can actually be opened, after the fixed entries,
    // and keep that part of the list current each time it is opened.
    auto *ports = new PortList(ui->PortBox, this);
    ports->refresh();

    // The form's own baud-rate selection ("9600") is kept: a rate the list
    // does not offer would open the port at baud 0.
    ui->sendButton->setEnabled(false);

    m_lcd = new LcdPainter(ui->lcdNumber, this);
    m_log = new LogWriter(ui->textEdit, this);
    // A redraw waiting for its turn goes first: it would otherwise wait out
    // the insertion too, and the display trail the board by both.
    m_log->setBeforeInsert([this] { m_display.runPending(); });

    QMessageLogger().debug() << tr("界面设定成功！");

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::onTimeout);
    timer->start(10000);
}

MainWindow::~MainWindow()
{
    // The last rows reach the file; a failure then has no window left to tell.
    disconnect(m_recorder, nullptr, this, nullptr);
    m_recorder->stop();
    // The port is not a child of the window: close and release it here so
    // closing the window with the port open leaves no device held.
    if (serial) {
        disconnect(serial, nullptr, this, nullptr);
        serial->close();
        delete serial;
        serial = nullptr;
    }
    delete ui;
}

void MainWindow::on_clearButton_clicked()
{
    m_log->clear();
}

void MainWindow::on_openButton_clicked()
{
    // The operator's press decides, whatever a wait would have done.
    stopWaiting();
    if (ui->openButton->text() == tr("打开串口"))
        openPort();
    else
        closePort();
}

bool MainWindow::openPort()
{
    serial = new QSerialPort;
    // The boxes cannot be edited, so their entries always read as settings.
    const std::optional<LineSettings> settings = LineSettings::fromEntries(
        ui->BaudBox->currentText(), ui->BitNumBox->currentText(), ui->ParityBox->currentText(),
        ui->StopBox->currentText());

    if (!settings || !openLine(*serial, ui->PortBox->currentText(), *settings)) {
        // Not reported as open: the window stays Closed and says why.
        const QString reason = settings ? serial->errorString() : tr("线路设置无效");
        releasePort(false);
        ui->statusBar->showMessage(tr("串口打开失败：") + reason);
        return false;
    }
    m_openedPort = ui->PortBox->currentText();
    ui->statusBar->clearMessage();

    // A new connection: nothing kept from the last one can complete a frame.
    m_reader.reset();
    setSettingsEnabled(false);
    ui->openButton->setText(tr("关闭串口"));
    ui->sendButton->setEnabled(true);
    connect(serial, &QSerialPort::readyRead, this, &MainWindow::Read_Data);
    connect(serial, &QSerialPort::errorOccurred, this, &MainWindow::onPortError);
    return true;
}

void MainWindow::closePort()
{
    if (serial)
        releasePort(true);
    m_log->flush();
    m_recorder->flush();
    setSettingsEnabled(true);
    ui->openButton->setText(tr("打开串口"));
    ui->sendButton->setEnabled(false);
}

void MainWindow::releasePort(bool discardBuffered)
{
    // Detached first, so an error raised while clearing or closing a port
    // whose device has gone cannot re-enter the close. Deleted once control
    // is back in the event loop: this may run inside one of its own signals.
    disconnect(serial, nullptr, this, nullptr);
    if (discardBuffered)
        serial->clear(QSerialPort::AllDirections);
    serial->close();
    serial->deleteLater();
    serial = nullptr;
}

void MainWindow::setSettingsEnabled(bool enabled)
{
    ui->PortBox->setEnabled(enabled);
    ui->BaudBox->setEnabled(enabled);
    ui->BitNumBox->setEnabled(enabled);
    ui->ParityBox->setEnabled(enabled);
    ui->StopBox->setEnabled(enabled);
}

void MainWindow::onPortError(QSerialPort::SerialPortError error)
{
    // A vanished device reports an error on every turn of the event loop;
    // leaving the port open would spin a core forever.
    if (error == QSerialPort::NoError || !serial)
        return;
    const QString reason = serial->errorString();
    closePort();
    ui->statusBar->showMessage(tr("串口连接已断开：") + reason);
    if (m_autoReconnect->isChecked())
        waitForPort(m_openedPort);
}

void MainWindow::on_sendButton_clicked()
{
    if (!serial)
        return;
    const COMM_UART_OBJ &command = buildCommand(ui->comboBox_sa->currentText(), ui->comboBox_fil->currentText(),
                                                ui->comboBox_ch->currentText(), ui->comboBox_id->currentText());
    QSerialPort *port = serial;
    const qint64 written = port->write(reinterpret_cast<const char *>(&command), FrameSize);
    if (written != FrameSize)
        ui->statusBar->showMessage(tr("参数发送失败：") + port->errorString());
}

void MainWindow::Read_Data()
{
    if (!serial)
        return;
    // Exactly what the port holds: readAll() reserves a 16 KiB chunk and
    // then copies it into a larger one before it finds nothing more, at
    // every read; at the line's full rate that was a tenth of the window's
    // work.
    const QByteArray read = serial->read(serial->bytesAvailable());
    if (read.isEmpty())
        return;

    const std::vector<COMM_UART_OBJ> frames = m_reader.feed(read);
    if (!frames.empty()) {
        // Every report is kept and recorded here, not at the folded redraw.
        const Arrival at = Arrival::now();
        for (const COMM_UART_OBJ &frame : frames) {
            acceptReport(frame);
            m_history.append(at.utcMs, frame.value, frame.sa_code);
            m_recorder->append(at, frame);
            m_publish->append(at, frame);
        }
        m_display.request(DisplayIntervalMs);
    }

    // Every byte is logged as it came, frame or not. Last: a log insertion
    // due now goes in with this read, after its newest report is shown.
    m_log->append(QString::fromLatin1(read.toHex(' ')) + QLatin1Char(' '));
}

uint16_t MainWindow::ModbusCRC16(QByteArray senddata, uint8_t crclen)
{
    return orvale::ModbusCRC16(senddata, crclen);
}

void MainWindow::on_lcdNumber_overflow()
{
}

void MainWindow::on_textEdit_textChanged()
{
}

void MainWindow::onTimeout()
{
    m_log->clear();
}

void MainWindow::showNewestReport()
{
    const ReportTexts texts = reportTexts(recv_obj);
    m_lcd->display(texts.value);
    ui->DEVICE_ID->setText(texts.deviceId);
    ui->adch->setText(texts.channel);
    ui->sa->setText(texts.sampleRate);
    ui->fil->setText(texts.filter);
    ui->state->setText(QStringLiteral("runing"));
}

void MainWindow::setUpDataMenu()
{
    // The form keeps its menu bar empty; the data menu is the controller's.
    QMenu *menu = ui->menuBar->addMenu(tr("数据(&D)"));
    menu->setObjectName(QStringLiteral("menuData"));

    QAction *trend = menu->addAction(tr("趋势图…"));
    trend->setObjectName(QStringLiteral("actionTrend"));
    trend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(trend, &QAction::triggered, this, &MainWindow::showTrendWindow);

    m_startRecording = menu->addAction(tr("开始记录…"));
    m_startRecording->setObjectName(QStringLiteral("actionStartRecording"));
    m_startRecording->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_startRecording, &QAction::triggered, this, &MainWindow::askForRecordingFile);

    m_stopRecording = menu->addAction(tr("停止记录"));
    m_stopRecording->setObjectName(QStringLiteral("actionStopRecording"));
    connect(m_stopRecording, &QAction::triggered, this, &MainWindow::stopRecording);

    QAction *open = menu->addAction(tr("打开记录…"));
    open->setObjectName(QStringLiteral("actionOpenRecording"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open, &QAction::triggered, this, &MainWindow::askForRecordingToOpen);

    // The board's tag is the port's name, which the box shows while it is open.
    m_publish = new PublishControl(menu, ui->statusBar, [this] { return ui->PortBox->currentText(); }, this);
    QAction *remote = menu->addAction(tr("打开远程…"));
    remote->setObjectName(QStringLiteral("actionOpenRemote"));
    connect(remote, &QAction::triggered, this, [this] { RemoteWindow::askAndOpen(this); });

    m_recorder = new CsvRecorder(this);
    connect(m_recorder, &CsvRecorder::flushed, this, &MainWindow::showRecordingState);
    connect(m_recorder, &CsvRecorder::failed, this, &MainWindow::onRecordingFailed);
    showRecordingState();
}

void MainWindow::showTrendWindow()
{
    if (!m_trend)
        m_trend = new TrendWindow(&m_history, this);
    m_trend->show();
    m_trend->raise();
    m_trend->activateWindow();
}

void MainWindow::askForRecordingToOpen()
{
    // The logger's rotated files are picked together, compressed or not.
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, tr("打开记录"), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        tr("CSV 文件 (*.csv *.csv.zst)"));
    if (!paths.isEmpty())
        openRecording(paths);
}

void MainWindow::openRecording(const QStringList &paths)
{
    // The files' first lines are looked at here, so a file that is no
    // recording never opens a window; the rest is read on a worker thread.
    // An empty file among several adds nothing, as the reader takes it.
    for (const QString &path : paths) {
        RecordingReader::Failure reason;
        if (!RecordingReader::looksLikeRecording(path, reason)
            && (paths.size() == 1 || reason.error != RecordingReader::Error::Empty)) {
            const QString file = paths.size() > 1 ? QFileInfo(path).fileName() + tr("：") : QString();
            statusBar()->showMessage(tr("打开记录失败：") + file + readerFailureText(reason));
            return;
        }
    }
    auto *window = new RecordingWindow(paths, this);
    connect(window, &RecordingWindow::failed, this,
            [this](const QString &why) { statusBar()->showMessage(tr("打开记录失败：") + why); });
    window->show();
}

void MainWindow::askForRecordingFile()
{
    const QString proposed = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("'orvale-'yyyyMMdd-hhmmss'.csv'"));
    const QString path = QFileDialog::getSaveFileName(this, tr("开始记录"), proposed, tr("CSV 文件 (*.csv)"));
    if (!path.isEmpty())
        startRecording(path);
}

bool MainWindow::startRecording(const QString &path)
{
    const bool started = m_recorder->start(path);
    if (!started)
        ui->statusBar->showMessage(tr("记录失败：") + recorderFailureText(m_recorder->failure()));
    showRecordingState();
    return started;
}

void MainWindow::stopRecording()
{
    m_recorder->stop();
    showRecordingState();
}

void MainWindow::onRecordingFailed()
{
    ui->statusBar->showMessage(tr("记录失败：") + recorderFailureText(m_recorder->failure()));
    showRecordingState();
}

void MainWindow::showRecordingState()
{
    const bool recording = m_recorder->isRecording();
    m_startRecording->setEnabled(!recording);
    m_stopRecording->setEnabled(recording);
    if (!recording) {
        if (m_recordingLabel) {
            ui->statusBar->removeWidget(m_recordingLabel);
            m_recordingLabel->deleteLater();
            m_recordingLabel = nullptr;
        }
        return;
    }
    if (!m_recordingLabel) {
        m_recordingLabel = new QLabel(ui->statusBar);
        m_recordingLabel->setObjectName(QStringLiteral("recordingLabel"));
        ui->statusBar->addPermanentWidget(m_recordingLabel);
    }
    m_recordingLabel->setText(tr("记录中：") + QFileInfo(m_recorder->fileName()).fileName() + tr("，")
                              + QString::number(m_recorder->rowCount()) + tr(" 条"));
}

void MainWindow::setUpPortMenu()
{
    QMenu *menu = ui->menuBar->addMenu(tr("串口(&S)"));
    menu->setObjectName(QStringLiteral("menuPort"));
    m_autoReconnect = menu->addAction(tr("断线后自动重连"));
    m_autoReconnect->setObjectName(QStringLiteral("actionAutoReconnect"));
    m_autoReconnect->setCheckable(true);
    m_autoReconnect->setChecked(QSettings().value(QStringLiteral("port/autoReconnect"), true).toBool());
    connect(m_autoReconnect, &QAction::toggled, this, [this](bool on) {
        QSettings().setValue(QStringLiteral("port/autoReconnect"), on);
        if (!on)
            stopWaiting();
    });

    // Only the operator's own choice ends a wait: the port list also changes
    // when it is brought up to date, and the waited-for port may drop out of
    // it while it is unplugged.
    connect(ui->PortBox, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::onPortChosen);

    m_reconnect = new ReconnectWatcher(this);
    connect(m_reconnect, &ReconnectWatcher::openDue, this, &MainWindow::reopenWaitedPort);
}

void MainWindow::waitForPort(const QString &name, bool triedNow)
{
    if (name.isEmpty())
        return;
    stopWaiting();
    m_reconnect->waitFor(name, triedNow);
    if (!m_reconnectLabel) {
        m_reconnectLabel = new QLabel(ui->statusBar);
        m_reconnectLabel->setObjectName(QStringLiteral("reconnectLabel"));
        ui->statusBar->addPermanentWidget(m_reconnectLabel);
    }
    m_reconnectLabel->setText(tr("等待 ") + name + tr(" 重新连接…"));
    m_reconnectLabel->show();
}

void MainWindow::stopWaiting()
{
    m_reconnect->stop();
    if (m_reconnectLabel)
        m_reconnectLabel->hide();
}

void MainWindow::reopenWaitedPort(const QString &name)
{
    // A port open by other means ends the wait.
    if (serial) {
        stopWaiting();
        return;
    }
    // The port list may have dropped the entry while the node was gone.
    if (ui->PortBox->findText(name) < 0)
        ui->PortBox->addItem(name);
    ui->PortBox->setCurrentText(name);
    if (openPort())
        stopWaiting();
}

void MainWindow::onPortChosen(int index)
{
    if (m_reconnect->isWaiting() && ui->PortBox->itemText(index) != m_reconnect->name())
        stopWaiting();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopWaiting();
    QMainWindow::closeEvent(event);
}

QString MainWindow::prepareStart(const StartOptions &options)
{
    struct Choice
    {
        const char *option;
        QComboBox *box;
        QString value;  // the entry; empty: as the form starts
    };
    const LineOptions &line = options.line;
    QString port = line.port;
    // A path into /dev that the list holds by its plain name is that entry.
    if (port.startsWith(QLatin1String("/dev/")) && ui->PortBox->findText(port.mid(5)) >= 0)
        port = port.mid(5);
    if (!port.isEmpty() && ui->PortBox->findText(port) < 0)
        ui->PortBox->addItem(port);
    const Choice choices[] = {
        {"port", ui->PortBox, port},
        {"baud", ui->BaudBox, line.baud ? QString::number(*line.baud) : QString()},
        {"data-bits", ui->BitNumBox, line.dataBits ? LineSettings::dataBitsText(*line.dataBits) : QString()},
        {"parity", ui->ParityBox, line.parity ? LineSettings::parityText(*line.parity) : QString()},
        {"stop-bits", ui->StopBox, line.stopBitsEntry ? QString::number(*line.stopBitsEntry) : QString()}};
    for (const Choice &choice : choices) {
        if (choice.value.isEmpty())
            continue;
        const int index = choice.box->findText(choice.value);
        if (index < 0) {
            QStringList offered;
            for (int i = 0; i < choice.box->count(); ++i)
                offered << choice.box->itemText(i);
            return QStringLiteral("--%1 %2: not one of %3")
                .arg(QLatin1String(choice.option), choice.value, offered.join(QLatin1String(", ")));
        }
        choice.box->setCurrentIndex(index);
    }
    const BrokerOptions &broker = options.broker;
    BrokerChoice publish, remote;
    QString refused = broker.publish ? BrokerChoice::fromOptions(broker, *broker.publish, &publish) : QString();
    if (refused.isEmpty() && broker.remote)
        refused = BrokerChoice::fromOptions(broker, *broker.remote, &remote);
    if (!refused.isEmpty())
        return refused;
    if (!options.recordFile.isEmpty() && !startRecording(options.recordFile))
        return QStringLiteral("--record %1: %2").arg(options.recordFile, recorderFailureText(m_recorder->failure()));
    if (broker.publish)
        m_publish->start(publish, broker.queueBytes);
    if (broker.remote)
        QTimer::singleShot(0, this, [this, remote] { (new RemoteWindow(remote, this))->show(); });
    if (options.trend)
        QTimer::singleShot(0, this, &MainWindow::showTrendWindow);
    if (options.open) {
        QTimer::singleShot(0, this, [this] {
            const QString name = ui->PortBox->currentText();
            // Tried just now: the next try when the node comes (back).
            if (!openPort() && m_autoReconnect->isChecked())
                waitForPort(name, true);
        });
    }
    return QString();
}

// Compiled with this file, so the build reads its headers once.
#include "moc_mainwindow.cpp"

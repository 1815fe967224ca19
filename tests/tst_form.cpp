// The window's form as uic builds it: what the controller and the operator
// rely on is the widget tree, the cells, the wording and the option lists.

#include "ui_mainwindow.h"

#include "commframe.h"

#include <QtTest>

namespace {

// Caption punctuation: the form uses the full-width colon, never ':'.
const QString Colon = QStringLiteral("\uFF1A");

QString spaces(int n)
{
    return QString(n, QLatin1Char(' '));
}

enum class OwnPalette { None, Lcd, Caption };

struct Brush
{
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    QColor colour;
};

QVector<Brush> expectedBrushes(OwnPalette which)
{
    const bool lcd = which == OwnPalette::Lcd;
    const QColor shown = lcd ? QColor(41, 104, 250) : QColor(0, 0, 0);
    const QColor text = lcd ? QColor(41, 104, 250) : QColor(255, 85, 0);
    const QColor tip = lcd ? QColor(255, 85, 0) : QColor(255, 0, 0);
    const QColor grey(120, 120, 120);
    const QColor placeholder(255, 85, 0, 128);
    QVector<Brush> brushes;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        brushes << Brush{group, QPalette::WindowText, shown}
                << Brush{group, QPalette::Text, text}
                << Brush{group, QPalette::ToolTipText, tip}
                << Brush{group, QPalette::PlaceholderText, placeholder};
    }
    brushes << Brush{QPalette::Disabled, QPalette::WindowText, grey}
            << Brush{QPalette::Disabled, QPalette::Text, grey}
            << Brush{QPalette::Disabled, QPalette::ToolTipText, tip}
            << Brush{QPalette::Disabled, QPalette::PlaceholderText, QColor(0, 0, 0, 128)};
    return brushes;
}

} // namespace

Q_DECLARE_METATYPE(OwnPalette)

// Stands in for the controller: the form must reach these slots by name alone.
class SlotWindow : public QMainWindow
{
    Q_OBJECT

public:
    QStringList calls;

private slots:
    void on_openButton_clicked() { calls << QStringLiteral("open"); }
    void on_sendButton_clicked() { calls << QStringLiteral("send"); }
    void on_clearButton_clicked() { calls << QStringLiteral("clear"); }
    void on_lcdNumber_overflow() { calls << QStringLiteral("overflow"); }
    void on_textEdit_textChanged() { calls << QStringLiteral("text"); }
};

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void windowAndObjectName();
    void widgetCells_data();
    void widgetCells();
    void layouts();
    void texts_data();
    void texts();
    void comboBoxes_data();
    void comboBoxes();
    void comboEntriesMatchCodeTables();
    void fontsAndPalettes_data();
    void fontsAndPalettes();
    void lcdAndLabelSettings();
    void slotsConnectedByName();

private:
    QMainWindow *window = nullptr;
    Ui_MainWindow ui;
};

void TestForm::initTestCase()
{
    window = new QMainWindow;
    ui.setupUi(window);
}

void TestForm::cleanupTestCase()
{
    delete window;
    window = nullptr;
}

void TestForm::windowAndObjectName()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->size(), QSize(830, 392));
    QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(window->toolButtonStyle(), Qt::ToolButtonTextOnly);
    QCOMPARE(window->centralWidget(), ui.centralWidget);
    QCOMPARE(window->statusBar(), ui.statusBar);
    QCOMPARE(window->menuBar(), ui.menuBar);
    QCOMPARE(ui.statusBar->objectName(), QStringLiteral("statusBar"));
    QCOMPARE(ui.menuBar->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 830, 17));
    QVERIFY(ui.menuBar->actions().isEmpty());
    QVERIFY(ui.statusBar->currentMessage().isEmpty());

    // Only WindowText is set on the window.
    const QPalette palette = window->palette();
    QCOMPARE(palette.resolve(), uint(1u << QPalette::WindowText));
    QCOMPARE(palette.brush(QPalette::Active, QPalette::WindowText).style(), Qt::SolidPattern);
    QCOMPARE(palette.color(QPalette::Active, QPalette::WindowText), QColor(120, 132, 138));
    QCOMPARE(palette.color(QPalette::Inactive, QPalette::WindowText), QColor(120, 132, 138));
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::WindowText), QColor(120, 120, 120));

    // A window that is already named keeps its name.
    QMainWindow named;
    named.setObjectName(QStringLiteral("operatorWindow"));
    Ui_MainWindow namedUi;
    namedUi.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("operatorWindow"));
}

void TestForm::widgetCells_data()
{
    QTest::addColumn<QWidget *>("widget");
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("creationIndex");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<int>("columnSpan");

    // In creation order; the static_cast pins each member's declared type.
    int index = 0;
#define CELL(name, cls, r, c, rs, cs) \
    QTest::newRow(#name) << static_cast<QWidget *>(static_cast<cls *>(ui.name)) \
                         << QStringLiteral(#cls) << index++ << r << c << rs << cs
    CELL(comboBox_fil, QComboBox, 20, 5, 1, 1);
    CELL(fil, QLabel, 20, 1, 1, 1);
    CELL(label_20, QLabel, 15, 4, 1, 2);
    CELL(DEVICE_ID, QLabel, 17, 1, 1, 1);
    CELL(comboBox_ch, QComboBox, 18, 5, 1, 1);
    CELL(label_13, QLabel, 21, 0, 1, 1);
    CELL(ParityBox, QComboBox, 10, 7, 2, 1);
    CELL(label_6, QLabel, 12, 6, 3, 1);
    CELL(label_8, QLabel, 17, 0, 1, 1);
    CELL(label_14, QLabel, 17, 4, 1, 1);
    CELL(lcdNumber, QLCDNumber, 3, 0, 12, 6);
    CELL(label_2, QLabel, 4, 6, 3, 1);
    CELL(label_17, QLabel, 20, 4, 1, 1);
    CELL(label_19, QLabel, 15, 0, 1, 2);
    CELL(state, QLabel, 21, 1, 1, 1);
    CELL(sendButton, QPushButton, 17, 6, 5, 2);
    CELL(openButton, QPushButton, 15, 6, 1, 2);
    CELL(PortBox, QComboBox, 3, 7, 1, 1);
    CELL(label_12, QLabel, 20, 0, 1, 1);
    CELL(label_9, QLabel, 1, 0, 1, 2);
    CELL(comboBox_sa, QComboBox, 19, 5, 1, 1);
    CELL(label_18, QLabel, 21, 4, 1, 1);
    CELL(comboBox_state, QComboBox, 21, 5, 1, 1);
    CELL(textEdit, QTextEdit, 17, 3, 4, 1);
    CELL(comboBox_id, QComboBox, 17, 5, 1, 1);
    CELL(label_5, QLabel, 10, 6, 2, 1);
    CELL(label_16, QLabel, 19, 4, 1, 1);
    CELL(label, QLabel, 1, 3, 1, 5);
    CELL(label_15, QLabel, 18, 4, 1, 1);
    CELL(clearButton, QPushButton, 21, 3, 1, 1);
    CELL(label_7, QLabel, 15, 3, 1, 1);
    CELL(label_3, QLabel, 3, 6, 1, 1);
    CELL(label_10, QLabel, 18, 0, 1, 1);
    CELL(label_11, QLabel, 19, 0, 1, 1);
    CELL(label_4, QLabel, 7, 6, 3, 1);
    CELL(StopBox, QComboBox, 12, 7, 3, 1);
    CELL(BaudBox, QComboBox, 4, 7, 3, 1);
    CELL(BitNumBox, QComboBox, 7, 7, 3, 1);
    CELL(adch, QLabel, 18, 1, 1, 1);
    CELL(sa, QLabel, 19, 1, 1, 1);
#undef CELL
}

void TestForm::widgetCells()
{
    QFETCH(QWidget *, widget);
    QFETCH(QString, className);
    QFETCH(int, creationIndex);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, rowSpan);
    QFETCH(int, columnSpan);

    QVERIFY(widget);
    // The controller reaches widgets by member name and connects slots by object name.
    QCOMPARE(widget->objectName(), QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), ui.centralWidget);

    QList<QWidget *> created;
    for (QObject *child : ui.centralWidget->children())
        if (child->isWidgetType())
            created << static_cast<QWidget *>(child);
    QCOMPARE(created.size(), 40);
    QCOMPARE(created.indexOf(widget), creationIndex);

    const int at = ui.gridLayout_2->indexOf(widget);
    QVERIFY2(at >= 0, "widget is not in gridLayout_2");
    int r = -1, c = -1, rs = -1, cs = -1;
    ui.gridLayout_2->getItemPosition(at, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, rowSpan);
    QCOMPARE(cs, columnSpan);
    QCOMPARE(ui.gridLayout_2->itemAt(at)->alignment(), Qt::Alignment());
}

void TestForm::layouts()
{
    QCOMPARE(ui.centralWidget->layout(), ui.gridLayout);
    QCOMPARE(ui.gridLayout->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(ui.gridLayout_2->objectName(), QStringLiteral("gridLayout_2"));
    QCOMPARE(ui.gridLayout->spacing(), 6);
    QCOMPARE(ui.gridLayout->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(ui.gridLayout_2->spacing(), 6);

    // gridLayout holds gridLayout_2 and nothing else.
    QCOMPARE(ui.gridLayout->count(), 1);
    QCOMPARE(ui.gridLayout->itemAt(0)->layout(), ui.gridLayout_2);
    QCOMPARE(ui.gridLayout->itemAt(0)->alignment(), Qt::Alignment());
    int r = -1, c = -1, rs = -1, cs = -1;
    ui.gridLayout->getItemPosition(0, &r, &c, &rs, &cs);
    QCOMPARE(QVector<int>({r, c, rs, cs}), QVector<int>({6, 0, 2, 1}));

    // Forty widgets and no spacer: every item is a widget.
    QCOMPARE(ui.gridLayout_2->count(), 40);
    for (int i = 0; i < ui.gridLayout_2->count(); ++i) {
        QLayoutItem *item = ui.gridLayout_2->itemAt(i);
        QVERIFY2(item->widget() && !item->spacerItem(), qPrintable(QString::number(i)));
    }
}

void TestForm::texts_data()
{
    QTest::addColumn<QWidget *>("widget");
    QTest::addColumn<QString>("text");

    const QString stars = QStringLiteral("***");
    QTest::newRow("fil") << static_cast<QWidget *>(ui.fil) << stars;
    QTest::newRow("label_20") << static_cast<QWidget *>(ui.label_20)
                              << spaces(12) + QStringLiteral("用户配置区");
    QTest::newRow("DEVICE_ID") << static_cast<QWidget *>(ui.DEVICE_ID) << stars;
    QTest::newRow("label_13") << static_cast<QWidget *>(ui.label_13) << QStringLiteral("当前状态") + Colon;
    QTest::newRow("label_6") << static_cast<QWidget *>(ui.label_6) << QStringLiteral("停止位") + Colon;
    QTest::newRow("label_8") << static_cast<QWidget *>(ui.label_8)
                             << QStringLiteral("设备ID") + Colon + spaces(2);
    QTest::newRow("label_14") << static_cast<QWidget *>(ui.label_14)
                              << spaces(1) + QStringLiteral("设备ID设置") + Colon;
    QTest::newRow("label_2") << static_cast<QWidget *>(ui.label_2) << QStringLiteral("波特率") + Colon;
    QTest::newRow("label_17") << static_cast<QWidget *>(ui.label_17)
                              << spaces(1) + QStringLiteral("滤波器设置") + Colon;
    QTest::newRow("label_19") << static_cast<QWidget *>(ui.label_19)
                              << spaces(2) + QStringLiteral("当前设备信息");
    QTest::newRow("state") << static_cast<QWidget *>(ui.state) << stars;
    QTest::newRow("sendButton") << static_cast<QWidget *>(ui.sendButton) << QStringLiteral("参数生效");
    // The controller decides between opening and closing by comparing with this text.
    QTest::newRow("openButton") << static_cast<QWidget *>(ui.openButton) << QStringLiteral("打开串口");
    QTest::newRow("label_12") << static_cast<QWidget *>(ui.label_12) << QStringLiteral("滤波器") + Colon;
    // Full-width parentheses U+FF08 / U+FF09 around the unit.
    QTest::newRow("label_9") << static_cast<QWidget *>(ui.label_9)
                             << QStringLiteral("电池电压\uFF08V\uFF09") + Colon;
    QTest::newRow("label_18") << static_cast<QWidget *>(ui.label_18)
                              << spaces(1) + QStringLiteral("状态设置") + Colon;
    QTest::newRow("label_5") << static_cast<QWidget *>(ui.label_5) << QStringLiteral("校验位") + Colon;
    QTest::newRow("label_16") << static_cast<QWidget *>(ui.label_16)
                              << spaces(1) + QStringLiteral("采样率设置") + Colon;
    QTest::newRow("label") << static_cast<QWidget *>(ui.label)
                           << QStringLiteral("<html><head/><body><p align=\"right\"><span style=\" "
                                             "font-family:'微软雅黑,sans-serif'; font-size:10.5pt; "
                                             "font-weight:600; font-style:italic;\">Tarvessa "
                                             "</span></p></body></html>");
    QTest::newRow("label_15") << static_cast<QWidget *>(ui.label_15)
                              << spaces(1) + QStringLiteral("采样通道设置") + Colon;
    QTest::newRow("clearButton") << static_cast<QWidget *>(ui.clearButton) << QStringLiteral("清空数据");
    QTest::newRow("label_7") << static_cast<QWidget *>(ui.label_7) << QStringLiteral("----实时数据----");
    QTest::newRow("label_3") << static_cast<QWidget *>(ui.label_3) << QStringLiteral("端口号") + Colon;
    QTest::newRow("label_10") << static_cast<QWidget *>(ui.label_10) << QStringLiteral("采样通道") + Colon;
    QTest::newRow("label_11") << static_cast<QWidget *>(ui.label_11) << QStringLiteral("采样率") + Colon;
    QTest::newRow("label_4") << static_cast<QWidget *>(ui.label_4) << QStringLiteral("数据位") + Colon;
    QTest::newRow("adch") << static_cast<QWidget *>(ui.adch) << stars;
    QTest::newRow("sa") << static_cast<QWidget *>(ui.sa) << stars;
}

void TestForm::texts()
{
    QFETCH(QWidget *, widget);
    QFETCH(QString, text);

    // QLabel and QAbstractButton both publish their caption as "text".
    QCOMPARE(widget->property("text").toString(), text);
    QVERIFY(widget->toolTip().isEmpty());
    QVERIFY(widget->statusTip().isEmpty());
}

void TestForm::comboBoxes_data()
{
    QTest::addColumn<QComboBox *>("box");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("currentIndex");
    QTest::addColumn<QString>("styleSheet");

    const QString parameterStyle = QStringLiteral("font: 11pt \"微软雅黑\";");
    QStringList ports;
    for (int i = 1; i <= 20; ++i)
        ports << QStringLiteral("COM%1").arg(i);

    QTest::newRow("comboBox_fil")
        << ui.comboBox_fil
        << QStringList{"No filtering", "Average value", "Median value", "Dithering", "Kalman"} << 0
        << parameterStyle;
    QTest::newRow("comboBox_ch") << ui.comboBox_ch << QStringList{"CH1", "CH2", "CH3", "AVDD"} << 0
                                 << parameterStyle;
    QTest::newRow("ParityBox") << ui.ParityBox << QStringList{"0", "1"} << 0 << QString();
    QTest::newRow("PortBox") << ui.PortBox << ports << 0 << QString();
    QTest::newRow("comboBox_sa") << ui.comboBox_sa
                                 << QStringList{"4 Sa/s", "10 Sa/s", "62 Sa/s", "123 Sa/s"} << 0
                                 << parameterStyle;
    QTest::newRow("comboBox_state") << ui.comboBox_state
                                    << QStringList{QStringLiteral("采样"), QStringLiteral("停止")} << 0
                                    << parameterStyle;
    // Ten entries, the last one blank so that it matches no device address.
    QTest::newRow("comboBox_id")
        << ui.comboBox_id
        << QStringList{"A0", "A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8", QString()} << 0
        << parameterStyle;
    QTest::newRow("StopBox") << ui.StopBox << QStringList{"0", "1"} << 1 << QString();
    QTest::newRow("BaudBox") << ui.BaudBox << QStringList{"4800", "9600", "115200"} << 1 << QString();
    QTest::newRow("BitNumBox") << ui.BitNumBox << QStringList{"7", "8"} << 1 << QString();
}

void TestForm::comboBoxes()
{
    QFETCH(QComboBox *, box);
    QFETCH(QStringList, entries);
    QFETCH(int, currentIndex);
    QFETCH(QString, styleSheet);

    QCOMPARE(box->count(), entries.size());
    for (int i = 0; i < box->count(); ++i) {
        QCOMPARE(box->itemText(i), entries.at(i));
        QVERIFY(box->itemIcon(i).isNull());
        QVERIFY(!box->itemData(i, Qt::UserRole).isValid());
    }
    QCOMPARE(box->currentIndex(), currentIndex);
    QCOMPARE(box->currentText(), entries.at(currentIndex));
    QVERIFY(!box->isEditable());
    QCOMPARE(box->styleSheet(), styleSheet);
    // Parameter boxes take their font from the style sheet, line boxes from the window.
    QVERIFY(!box->testAttribute(Qt::WA_SetFont));
}

void TestForm::comboEntriesMatchCodeTables()
{
    // Applying parameters maps the chosen entry back to a code by exact text,
    // so every entry must equal the table text at the same index.
    auto entries = [](const QComboBox *box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    };
    QCOMPARE(entries(ui.comboBox_fil), orvale::fil_table);
    QCOMPARE(entries(ui.comboBox_sa), orvale::sa_table);
    QCOMPARE(entries(ui.comboBox_ch), orvale::ch_table);
    QCOMPARE(entries(ui.comboBox_id).mid(0, 9), orvale::id_table);
    QVERIFY(!orvale::id_table.contains(ui.comboBox_id->itemText(9)));
}

void TestForm::fontsAndPalettes_data()
{
    QTest::addColumn<QWidget *>("widget");
    QTest::addColumn<QString>("family"); // empty: no font of its own
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<OwnPalette>("ownPalette");

    const QString yh = QStringLiteral("微软雅黑");
    const QString agency = QStringLiteral("Agency FB");
    const int normal = QFont::Normal;
    const OwnPalette none = OwnPalette::None;
#define FONT(name, fam, size, w, en, pal) \
    QTest::newRow(#name) << static_cast<QWidget *>(ui.name) << fam << size << w << en << pal
    FONT(fil, yh, 10, normal, true, none);
    FONT(label_20, yh, 14, normal, true, none);
    FONT(DEVICE_ID, yh, 10, normal, true, none);
    FONT(label_13, yh, 12, normal, true, none);
    FONT(label_6, yh, 10, normal, true, none);
    FONT(label_8, yh, 12, normal, true, none);
    FONT(label_14, yh, 12, normal, false, none);
    FONT(lcdNumber, yh, 12, normal, true, OwnPalette::Lcd);
    FONT(label_2, yh, 10, normal, true, none);
    FONT(label_17, yh, 12, normal, false, none);
    FONT(label_19, yh, 14, normal, true, none);
    FONT(state, yh, 10, normal, true, none);
    FONT(sendButton, agency, 12, normal, true, none);
    FONT(openButton, agency, 12, normal, true, none);
    FONT(label_12, yh, 12, normal, true, none);
    FONT(label_9, yh, 16, normal, true, OwnPalette::Caption);
    FONT(label_18, yh, 12, normal, false, none);
    FONT(textEdit, QString(), 0, 0, true, none);
    FONT(label_5, yh, 10, normal, true, none);
    FONT(label_16, yh, 12, normal, false, none);
    FONT(label, yh, 11, normal, false, none);
    FONT(label_15, yh, 12, normal, false, none);
    FONT(clearButton, agency, 12, normal, true, none);
    FONT(label_7, yh, 12, int(QFont::Bold), true, none);
    FONT(label_3, yh, 10, normal, true, none);
    FONT(label_10, yh, 12, normal, true, none);
    FONT(label_11, yh, 12, normal, true, none);
    FONT(label_4, yh, 10, normal, true, none);
    FONT(adch, yh, 10, normal, true, none);
    FONT(sa, yh, 10, normal, true, none);
#undef FONT
}

void TestForm::fontsAndPalettes()
{
    QFETCH(QWidget *, widget);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);
    QFETCH(bool, enabled);
    QFETCH(OwnPalette, ownPalette);

    QCOMPARE(widget->isEnabled(), enabled);

    if (family.isEmpty()) {
        QVERIFY(!widget->testAttribute(Qt::WA_SetFont));
    } else {
        const QFont font = widget->font();
        QCOMPARE(font.family(), family);
        QCOMPARE(font.pointSize(), pointSize);
        QCOMPARE(font.weight(), weight);
        QVERIFY(!font.italic());
        QVERIFY(!font.underline());
    }

    const QPalette palette = widget->palette();
    if (ownPalette == OwnPalette::None) {
        // Captions without a palette of their own draw in the window's
        // colours, greyed when disabled.
        QVERIFY(!widget->testAttribute(Qt::WA_SetPalette));
        if (widget->inherits("QLabel")) {
            const QPalette::ColorGroup drawn = enabled ? QPalette::Active : QPalette::Disabled;
            QCOMPARE(palette.color(drawn, QPalette::WindowText),
                     enabled ? QColor(120, 132, 138) : QColor(120, 120, 120));
        }
        return;
    }

    QVERIFY(widget->testAttribute(Qt::WA_SetPalette));
    const uint roles = (1u << QPalette::WindowText) | (1u << QPalette::Text)
                       | (1u << QPalette::ToolTipText) | (1u << QPalette::PlaceholderText);
    QCOMPARE(palette.resolve(), roles);
    for (const Brush &expected : expectedBrushes(ownPalette)) {
        const QBrush &brush = palette.brush(expected.group, expected.role);
        const QByteArray where =
            QByteArray::number(int(expected.group)) + '/' + QByteArray::number(int(expected.role));
        QVERIFY2(brush.style() == Qt::SolidPattern, where.constData());
        QVERIFY2(brush.color().rgba() == expected.colour.rgba(),
                 (where + " is " + brush.color().name(QColor::HexArgb).toLatin1()).constData());
    }
}

void TestForm::lcdAndLabelSettings()
{
    const QLCDNumber *lcd = ui.lcdNumber;
    QCOMPARE(lcd->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(lcd->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(lcd->sizePolicy().horizontalStretch(), 0);
    QCOMPARE(lcd->sizePolicy().verticalStretch(), 0);
    QVERIFY(lcd->hasMouseTracking());
    QVERIFY(lcd->hasTabletTracking());
    QVERIFY(!lcd->acceptDrops());
    QCOMPARE(lcd->layoutDirection(), Qt::LeftToRight);
    QVERIFY(lcd->autoFillBackground());
    QCOMPARE(lcd->locale().language(), QLocale::Chinese);
    QCOMPARE(lcd->locale().country(), QLocale::China);
    QCOMPARE(lcd->inputMethodHints(), Qt::ImhNone);
    QCOMPARE(lcd->frameShape(), QFrame::Panel);
    QCOMPARE(lcd->frameShadow(), QFrame::Raised);
    QCOMPARE(lcd->lineWidth(), 8);
    QCOMPARE(lcd->midLineWidth(), 8);
    QVERIFY(lcd->smallDecimalPoint());
    QCOMPARE(lcd->digitCount(), 10);
    QCOMPARE(lcd->mode(), QLCDNumber::Dec);
    QCOMPARE(lcd->segmentStyle(), QLCDNumber::Filled);
    QCOMPARE(lcd->intValue(), 0);

    QCOMPARE(ui.label_9->frameShadow(), QFrame::Plain);
    QCOMPARE(ui.label_9->textFormat(), Qt::AutoText);
    QCOMPARE(ui.label->textFormat(), Qt::RichText);
    QCOMPARE(ui.label_19->layoutDirection(), Qt::LeftToRight);
    QVERIFY(ui.textEdit->isEnabled());
    QVERIFY(!ui.textEdit->isReadOnly());
}

void TestForm::slotsConnectedByName()
{
    SlotWindow slotWindow;
    Ui_MainWindow form;
    form.setupUi(&slotWindow);

    QTest::mouseClick(form.openButton, Qt::LeftButton);
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    QTest::mouseClick(form.clearButton, Qt::LeftButton);
    form.lcdNumber->display(-2000000000); // eleven characters do not fit ten cells
    form.textEdit->setPlainText(QStringLiteral("a1"));
    QCOMPARE(slotWindow.calls, (QStringList{"open", "send", "clear", "overflow", "text"}));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"

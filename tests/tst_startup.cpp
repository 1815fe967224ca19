// Runs the program's real start-up routine (app/main.cpp, built into this
// test with its entry point renamed) and looks at what it leaves on screen.

#include "mainwindow.h"

#include <QApplication>
#include <QMetaType>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int orvaleStartup(int argc, char *argv[]);

namespace {

int passed = 0;
int failed = 0;
QStringList debugLines;
bool registeredBeforeApplication = false;
int exitCodeToRequest = 0;

void check(bool ok, const char *what)
{
    ++(ok ? passed : failed);
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
}

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg) {
        debugLines << text;
        check(!context.file && !context.function && context.line == 0, "debug line carries no source context");
    }
}

MainWindow *mainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            return window;
    }
    return nullptr;
}

void inspectRunningWindow()
{
    MainWindow *window = mainWindow();
    check(window != nullptr, "the routine shows a MainWindow");
    if (!window) {
        QCoreApplication::exit(99);
        return;
    }
    check(window->windowTitle() == QStringLiteral(" Orvale QV1.0  "), "title with its blanks");
    check(window->isVisible() && !window->isMaximized() && !window->isFullScreen(), "plainly shown");
    check(!window->windowIcon().pixmap(32).isNull(), "the window carries its icon, found without installation");
    check(debugLines == QStringList{QStringLiteral("\"界面设定成功！\"")}, "exactly one start-up debug line");
    if (exitCodeToRequest)
        QCoreApplication::exit(exitCodeToRequest);
    else
        window->close();
}

void onApplicationCreated()
{
    registeredBeforeApplication = QMetaType::type("COMM_UART_OBJ") != QMetaType::UnknownType;
    QTimer::singleShot(0, inspectRunningWindow);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(onApplicationCreated)

int main(int argc, char *argv[])
{
    qInstallMessageHandler(collect);

    // Closing the window ends the loop with its result, 0.
    int rc = orvaleStartup(argc, argv);
    check(registeredBeforeApplication, "frame type registered before the application object");
    check(rc == 0, "closing the window returns 0");

    // Whatever the loop returns becomes the exit code.
    debugLines.clear();
    exitCodeToRequest = 3;
    rc = orvaleStartup(argc, argv);
    check(rc == 3, "the loop's result is returned");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

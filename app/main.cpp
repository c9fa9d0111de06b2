#include "libraryPath.h"
#include "messageBoxAnswer.h"
#include "skerrowDriver.h"

#include <QApplication>

#ifndef _WIN32
#include "rkhost.h"

#include <QSocketNotifier>

/*
 * KIV's messages for the driver's window wait in the platform layer's queue;
 * Qt's event loop dispatches them whenever its descriptor becomes readable.
 */
static void serveWindowMessages(QObject* owner)
{
    const int descriptor = rkMessageEventFd();
    if (descriptor < 0)
        return;
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { rkDispatchPendingMessages(); });
}
#endif

int main(int argc, char* argv[])
{
    pointQtAtSystemLibraries();
    QApplication application(argc, argv);
    application.setApplicationVersion(QStringLiteral(SKERROWDRIVER_VERSION));
#ifndef _WIN32
    serveWindowMessages(&application);
#endif
    answerMessageBoxesIfAsked(&application);
    skerrowDriver window;
    window.show();
    return application.exec();
}

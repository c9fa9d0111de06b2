#include "libraryPath.h"
#include "messageBoxAnswer.h"
#include "rkwin.h"
#include "skerrowDriver.h"
#include "windowMessages.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    pointQtAtSystemLibraries();
    QApplication application(argc, argv);
    application.setApplicationVersion(QStringLiteral(SKERROWDRIVER_VERSION));
    serveWindowMessages(&application);
    answerMessageBoxesIfAsked(&application);
    /*
     * Background traffic: woken by the hub's answer, the generator waits for
     * the hub to end its turn instead of taking the processor from it. With
     * more generators than cores the hub would otherwise be preempted by
     * every answer it gives.
     */
    SetThreadPriorityBoost(GetCurrentThread(), TRUE);
    skerrowDriver window;
    if (window.refusedCommandLineExitCode() != 0)
        return window.refusedCommandLineExitCode();
    window.show();
    return application.exec();
}

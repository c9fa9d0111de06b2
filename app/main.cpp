#include "libraryPath.h"
#include "messageBoxAnswer.h"
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
    skerrowDriver window;
    if (window.refusedCommandLineExitCode() != 0)
        return window.refusedCommandLineExitCode();
    window.show();
    return application.exec();
}

#include "libraryPath.h"

#include "rkhost.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdlib>

void pointQtAtSystemLibraries()
{
    const char* root = std::getenv("RK_ROOT");
    const char* system = std::getenv("RK_SYSTEM");
    if (!root || !system)
        return;
    const QString libraryPath = QStringLiteral("%1\\%2\\windows\\lib")
                                    .arg(QString::fromLocal8Bit(root), QString::fromLocal8Bit(system));
#ifdef _WIN32
    QCoreApplication::setLibraryPaths(QStringList(libraryPath));
#else
    /*
     * Here Qt is the system's own; its plug-ins live where Qt's defaults say.
     * The mapped directory goes first and the defaults stay behind it, so the
     * program still starts when the directory holds no plug-ins.
     */
    QCoreApplication::addLibraryPath(
        QString::fromStdString(rkHostPath(libraryPath.toStdString())));
#endif
}

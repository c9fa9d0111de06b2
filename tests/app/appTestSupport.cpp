#include "appTestSupport.h"

#include "rkhost.h"

#include <QAbstractButton>

#include <string>

namespace {
constexpr int maxArguments = 32;
int argumentCount = 1;
char* argumentPointers[maxArguments + 1] = {const_cast<char*>("skerrowDriver"), nullptr};
std::vector<std::string> argumentStorage;

constexpr int answerPollMs = 5;
constexpr int eventLoopLimitMs = 10000;
}

int& applicationArgc()
{
    return argumentCount;
}

char** applicationArgv()
{
    return argumentPointers;
}

void setCommandLine(const QStringList& arguments)
{
    QVERIFY2(arguments.size() < maxArguments, "too many test arguments");
    argumentStorage.assign(1, "skerrowDriver");
    for (const QString& argument : arguments)
        argumentStorage.push_back(argument.toStdString());
    for (std::size_t i = 0; i < argumentStorage.size(); ++i)
        argumentPointers[i] = &argumentStorage[i][0];
    argumentPointers[argumentStorage.size()] = nullptr;
    argumentCount = static_cast<int>(argumentStorage.size());
}

messageBoxAnswerer::messageBoxAnswerer()
{
    connect(&watch, &QTimer::timeout, this, &messageBoxAnswerer::answerShownBox);
    watch.start(answerPollMs);
}

void messageBoxAnswerer::answerShownBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    shownMessageBox seen;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    shown.push_back(seen);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->done(QMessageBox::Cancel);
}

debugCapture::debugCapture()
{
    rkSetDebugSink(
        [](const char* text, void* context) { static_cast<debugCapture*>(context)->lines.emplace_back(text); },
        this);
}

debugCapture::~debugCapture()
{
    rkSetDebugSink(nullptr, nullptr);
}

QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject* object)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(object);
}

int runEventLoopUntilQuit()
{
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    limit.start(eventLoopLimitMs);
    return QCoreApplication::exec();
}

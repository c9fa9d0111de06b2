#include "messageBoxAnswer.h"

#include "rkwin.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <string>

namespace {
constexpr int watchIntervalMs = 10;

void answer(QMessageBox* box)
{
    const std::string line = "message box answered: " + box->windowTitle().toStdString() +
                             ": " + box->text().toStdString() + "\n";
    OutputDebugStringA(line.c_str());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->accept();
}

void answerShownMessageBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->isVisible())
        answer(box);
}
}

void answerMessageBoxesIfAsked(QObject* owner)
{
    if (!std::getenv("RK_ANSWER_MESSAGE_BOXES"))
        return;
    auto* watch = new QTimer(owner);
    QObject::connect(watch, &QTimer::timeout, answerShownMessageBox);
    watch->start(watchIntervalMs);
}

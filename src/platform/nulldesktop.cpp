#include "platform/nulldesktop.h"

#include <QThread>

void NullDesktop::pause(int ms)
{
    QThread::msleep(static_cast<unsigned long>(qMax(ms, 0)));
}

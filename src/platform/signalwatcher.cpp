#include "platform/signalwatcher.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Made once and kept for the process: a handler may run at any moment.
int pipeEnds[2] = {-1, -1};
int watchers = 0;

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; nothing is lost by dropping this byte.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

void setAction(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}
} // namespace

SignalWatcher::SignalWatcher(const QList<int> &signalNumbers, QObject *parent)
    : QObject(parent), m_signals(signalNumbers)
{
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("SignalWatcher: no pipe");
    ++watchers;
    m_notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
    for (int s : m_signals)
        setAction(s, writeSignalNumber);
}

SignalWatcher::~SignalWatcher()
{
    if (--watchers == 0) {
        for (int s : m_signals)
            setAction(s, SIG_DFL);
    }
}

void SignalWatcher::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        emit received(byte);
}

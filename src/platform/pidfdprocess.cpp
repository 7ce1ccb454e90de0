#include "platform/pidfdprocess.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// How long a process may take to end after SIGTERM before it is killed.
constexpr int termGraceMs = 2000;
constexpr int killWaitMs = 1000;
} // namespace

std::unique_ptr<PidfdProcess> PidfdProcess::open(qint64 pid)
{
    // Never ourselves, init, or a process group.
    if (pid <= 1 || pid == getpid())
        return nullptr;
    const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<PidfdProcess>(new PidfdProcess(pid, static_cast<int>(fd)));
}

PidfdProcess::~PidfdProcess()
{
    ::close(m_fd);
}

DesktopProcess::WaitResult PidfdProcess::waitForExit(int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0)
            return (p.revents & POLLIN) ? WaitResult::Exited : WaitResult::Failed;
        if (ready == 0)
            return WaitResult::TimedOut;
        if (errno != EINTR)
            return WaitResult::Failed;
    }
}

bool PidfdProcess::signal(int number)
{
    return syscall(SYS_pidfd_send_signal, m_fd, number, nullptr, 0) == 0;
}

void PidfdProcess::terminate()
{
    if (!signal(SIGTERM) || waitForExit(termGraceMs) == WaitResult::Exited)
        return;
    if (signal(SIGKILL))
        waitForExit(killWaitMs);
}

#pragma once

#include "platform/desktopautomation.h"

// A process of the desktop (not our child) held by a pidfd: waiting is a poll on
// it, and signals sent through it can never reach a process that reused the id.
class PidfdProcess : public DesktopProcess
{
public:
    // Null when the process does not exist or the kernel has no pidfds.
    static std::unique_ptr<PidfdProcess> open(qint64 pid);
    ~PidfdProcess() override;
    PidfdProcess(const PidfdProcess &) = delete;
    PidfdProcess &operator=(const PidfdProcess &) = delete;

    qint64 pid() const override { return m_pid; }
    WaitResult waitForExit(int timeoutMs) override;
    void terminate() override;

private:
    PidfdProcess(qint64 pid, int fd) : m_pid(pid), m_fd(fd) {}
    bool signal(int number);

    qint64 m_pid;
    int m_fd;
};

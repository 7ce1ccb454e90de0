#pragma once

#include "eventlog/logstore.h"
#include "platform/poweroff.h"

#include <functional>
#include <memory>
#include <optional>

struct ShutdownResult
{
    PowerOffResult powerOff;
    // The log as written right after the answer; none when nothing was queued.
    std::optional<FlushResult> flushed;
};

// The one operation that turns the machine off: the pre-shutdown pass (only a
// desktop has one) when "exte_save" is on, then the forced power-off. Its answer is
// written to log.db before the call returns, "Linux System Shutdown" or "Shutdown
// Failed" with everything queued before it: once the power-off is accepted the
// session's SIGTERM may follow at any moment.
class ShutdownSequence
{
public:
    using PrePass = std::function<void()>;
    explicit ShutdownSequence(std::unique_ptr<PowerOff> powerOff, PrePass prePass = {});

    // runPass: the first request of a run of the conditions; later requests (retries)
    // do not close the applications again. The record of the run's pass in
    // close_file.db notes each answer.
    ShutdownResult shutdownSystem(bool runPass);

private:
    std::unique_ptr<PowerOff> m_powerOff;
    PrePass m_prePass;
    // The time of this run's pass, whose record awaits the power-off's answer.
    QString m_passTime;
};

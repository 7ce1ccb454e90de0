#pragma once

#include "config/params.h"
#include "model/upsstatus.h"

#include <QString>
#include <QStringList>
#include <QTime>

// Seconds-left value of a condition that is not counting down.
constexpr int noCountdown = 60000;

enum class CountdownDisplay
{
    Hidden,   // no condition switched on: the status-bar label is hidden
    Idle,     // nothing counts: "Countdown of Shotdown:NO" in dark green
    Counting, // red countdown of countdownSecs
    Refused   // a power-off that is due was refused: red "Shutdown refused"
};

enum class PopupAction
{
    None,
    Close,
    Create,
    Refresh
};

// What one tick of the countdown asks the main window to do, in this order: ask
// for the power-off (and report the answer with powerOffAnswered), then update the
// display, the popup and start the external program.
struct CountdownTick
{
    // A condition reached its delay, or a refused power-off is due again; at most
    // one request a tick.
    bool requestShutdown = false;
    // The request is the first of this run of the conditions: the pre-shutdown pass
    // comes before it. Retries never close the applications again.
    bool runPass = false;
    CountdownDisplay display = CountdownDisplay::Hidden;
    int countdownSecs = 0;
    QString alarmText;
    QStringList countdownsStarted; // conditions whose countdown began with this tick
    PopupAction popup = PopupAction::None;
    bool startExternalProgram = false;

    QTime timeLeft() const;
    QString labelText() const;
};

// The shutdown countdown, advanced one one-second tick at a time. It owns every
// counter of the countdown and of the alarm popup's re-show delay; the caller
// owns the popup itself and reports when the user or the settings closed it.
class Countdown
{
public:
    CountdownTick evaluateConditions(const UpsStatusSnapshot &status, const Params &p);
    // What a tick would show now, for a status that changed between ticks; nothing
    // is counted, requested, started or popped up.
    CountdownTick preview(const UpsStatusSnapshot &status, const Params &p) const;
    // The answer to this tick's request. After a refusal the request is made again
    // every retryTicks while a condition stays at or past its delay, and the display
    // reads "Shutdown refused"; after an acceptance only a new expiry asks again.
    void powerOffAnswered(bool accepted, CountdownTick &tick);
    static constexpr int retryTicks = 60;

    // The user closed the popup (ShowMessageClicked).
    void popupDismissed();
    // The popup was removed for any other reason (closeAlarmPopup).
    void popupClosed();

    bool popupShown() const { return m_popupShown; }
    int alarmTick() const { return m_alarmTick; }
    bool popupAcknowledged() const { return m_popupAcknowledged; }
    bool externalProgramPending() const { return m_externalProgramPending; }
    int utilitySecs() const { return m_conditions[0].secs; }
    int batterySecs() const { return m_conditions[1].secs; }
    int upsSecs() const { return m_conditions[2].secs; }
    int utilityElapsed() const { return m_conditions[0].elapsed; }
    int batteryElapsed() const { return m_conditions[1].elapsed; }
    int upsElapsed() const { return m_conditions[2].elapsed; }
    int countdownSecs() const { return m_countdownSecs; }

private:
    struct Condition
    {
        int elapsed = 0;
        int secs = noCountdown;
        // The request of this run of the condition has been made, for this delay: a
        // delay changed in the settings is a new expiry for the same count.
        bool requested = false;
        int delay = -1;
    };
    enum class Answer
    {
        None,
        Accepted,
        Refused
    };

    PopupAction popupAction(const Params &p);

    Condition m_conditions[3];
    int m_countdownSecs = 0;
    int m_alarmTick = 0;
    bool m_popupShown = false;
    bool m_popupAcknowledged = false;
    bool m_externalProgramPending = true;
    // Since the last tick on which no condition was active.
    bool m_passDone = false;
    // The last answer while a condition has been due, and the ticks since.
    Answer m_answer = Answer::None;
    int m_ticksSinceAnswer = 0;
};

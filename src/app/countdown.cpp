#include "countdown.h"

#include <QCoreApplication>
#include <algorithm>

namespace {
QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}
} // namespace

QTime CountdownTick::timeLeft() const
{
    // Delays of the settings stay below a day; a hand-edited longer one wraps here only.
    return QTime::fromMSecsSinceStartOfDay((countdownSecs % 86400) * 1000);
}

QString CountdownTick::labelText() const
{
    switch (display) {
    case CountdownDisplay::Hidden:
        return {};
    case CountdownDisplay::Idle:
        return QCoreApplication::translate("MainWindow", "Countdown of Shotdown:NO");
    case CountdownDisplay::Refused:
        return QCoreApplication::translate("MainWindow", "Shutdown refused");
    case CountdownDisplay::Counting:
        break;
    }
    return QCoreApplication::translate("MainWindow", "Countdown of Shutdown:%1:%2:%3")
        .arg(twoDigits(countdownSecs / 3600), twoDigits(countdownSecs % 3600 / 60), twoDigits(countdownSecs % 60));
}

CountdownTick Countdown::evaluateConditions(const UpsStatusSnapshot &status, const Params &p)
{
    const struct
    {
        bool enabled;
        bool present;
        int minutes;
        const char *text;
    } rules[3] = {
        {p.Utility_para, status.utilityFail, p.Utility_time, QT_TRANSLATE_NOOP("MainWindow", "Utility Fail")},
        {p.Bat_para, status.batteryLow, p.Bat_time, QT_TRANSLATE_NOOP("MainWindow", "Battery Low")},
        {p.UPS_para, status.upsFail, p.UPS_time, QT_TRANSLATE_NOOP("MainWindow", "UPS Fail")},
    };
    // An unauthenticated trap counts and shows a condition at once, but only a poll
    // answer (or an authenticated trap) may let it ask for the power-off.
    const bool confirmed[3] = {status.confirmed(1), status.confirmed(2), status.confirmed(3)};

    CountdownTick tick;
    bool counting = false;
    bool active = false;
    bool due = false;     // a confirmed condition is at or past its delay
    bool expired = false; // ... and one reached it on this tick
    m_countdownSecs = noCountdown;
    for (int i = 0; i < 3; ++i) {
        Condition &c = m_conditions[i];
        c.secs = noCountdown;
        if (!rules[i].enabled || !rules[i].present || status.upsLink != LinkGood) {
            c.elapsed = 0;
            c.requested = false;
            continue;
        }
        active = true;
        const int delay = rules[i].minutes * 60;
        if (delay != c.delay) {
            c.delay = delay;
            c.requested = false;
        }
        if (delay == 0) {
            if (confirmed[i]) {
                due = true;
                expired |= !c.requested;
                c.requested = true;
            }
            continue;
        }
        const QString text = QCoreApplication::translate("MainWindow", rules[i].text);
        tick.alarmText += text + QLatin1Char('\n');
        if (c.elapsed == 0)
            tick.countdownsStarted << text;
        c.secs = std::max(0, delay - c.elapsed);
        ++c.elapsed;
        // ">=" so that a delay shortened below the count already reached still
        // requests, on the first tick after the change.
        if (c.elapsed >= delay && confirmed[i]) {
            due = true;
            expired |= !c.requested;
            c.requested = true;
        }
        // After the request the display rests at 00:00:00 while the condition lasts.
        if (c.requested)
            c.secs = 0;
        counting = true;
        m_countdownSecs = std::min(m_countdownSecs, c.secs);
    }

    if (!active)
        m_passDone = false;
    if (!due)
        m_answer = Answer::None;
    ++m_ticksSinceAnswer;
    tick.requestShutdown = expired || (m_answer == Answer::Refused && m_ticksSinceAnswer >= retryTicks);
    if (tick.requestShutdown) {
        tick.runPass = !m_passDone;
        m_passDone = true;
    }

    if (!p.Utility_para && !p.Bat_para && !p.UPS_para)
        tick.display = CountdownDisplay::Hidden;
    else if (m_answer == Answer::Refused && !tick.requestShutdown)
        tick.display = CountdownDisplay::Refused;
    else if (!counting)
        tick.display = CountdownDisplay::Idle;
    else
        tick.display = CountdownDisplay::Counting;

    if (!counting) {
        tick.popup = PopupAction::Close;
        popupClosed();
        return tick;
    }

    tick.countdownSecs = m_countdownSecs;
    tick.popup = popupAction(p);
    if (m_externalProgramPending && p.exte_flag && m_countdownSecs <= p.exte_time * 60) {
        m_externalProgramPending = false;
        tick.startExternalProgram = true;
    }
    return tick;
}

CountdownTick Countdown::preview(const UpsStatusSnapshot &status, const Params &p) const
{
    Countdown copy(*this);
    CountdownTick tick = copy.evaluateConditions(status, p);
    tick.requestShutdown = false;
    tick.runPass = false;
    tick.countdownsStarted.clear();
    tick.popup = PopupAction::None;
    tick.startExternalProgram = false;
    return tick;
}

void Countdown::powerOffAnswered(bool accepted, CountdownTick &tick)
{
    m_answer = accepted ? Answer::Accepted : Answer::Refused;
    m_ticksSinceAnswer = 0;
    if (!accepted)
        tick.display = CountdownDisplay::Refused;
}

PopupAction Countdown::popupAction(const Params &p)
{
    if (!p.Alarm_para) {
        popupClosed();
        return PopupAction::Close;
    }
    // From the request on nothing is created or counted; a popup that is up shows
    // the same 00:00:00 as the status bar.
    if (m_countdownSecs == 0)
        return m_popupShown ? PopupAction::Refresh : PopupAction::None;
    if (m_popupShown) {
        m_alarmTick = 0;
        return PopupAction::Refresh;
    }
    if (m_popupAcknowledged && ++m_alarmTick != p.AlarmBox_time)
        return PopupAction::None;
    m_popupShown = true;
    return PopupAction::Create;
}

void Countdown::popupDismissed()
{
    m_popupShown = false;
    m_alarmTick = 0;
    m_popupAcknowledged = true;
}

void Countdown::popupClosed()
{
    m_popupShown = false;
    m_alarmTick = 0;
}

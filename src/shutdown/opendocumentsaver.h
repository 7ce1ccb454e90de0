#pragma once

#include "platform/desktopautomation.h"

#include <QList>
#include <QThread>
#include <memory>

class OpenDocumentSaver;

// The saver thread: one saver run for the current target each time it is started.
class Thread : public QThread
{
    Q_OBJECT
public:
    explicit Thread(OpenDocumentSaver &saver) : m_saver(saver) {}

protected:
    void run() override;

private:
    OpenDocumentSaver &m_saver;
};

// The pre-shutdown pass: closes the other applications' windows, answers their
// save prompts, saves their documents under generated names, ends what does not
// end by itself, and records the pass in close_file.db. Blocks the calling thread
// for the whole pass; every wait and every retry is bounded.
class OpenDocumentSaver
{
public:
    explicit OpenDocumentSaver(DesktopAutomation &desktop);
    ~OpenDocumentSaver();

    void closeApplications();

    // The number in the last generated document name; counts across passes.
    int backupIndex() const { return m_backupIndex; }

    // Saver runs for one window: three, and more while each run still saves a
    // document, up to this bound.
    static constexpr int maxSaverRuns = 10;
    // Rounds of one saver run when a dialog without edit field keeps coming back.
    static constexpr int maxRounds = 3;
    // A saver run that has not ended by then is given up on.
    static constexpr int saverRunTimeoutMs = 120000;

private:
    friend class Thread;
    struct Target
    {
        WindowInfo window;
        qint64 pid = 0;
    };

    void closeWindow(WindowInfo window, int attempt);
    bool otherApplicationWindows(qint64 pid, WindowHandle except);
    void endTargetProcess(WindowHandle except);
    // One saver run; true when it saved a document (through the save dialog, or
    // silently after the prompt was answered).
    bool saverRun();
    enum class Round
    {
        Done,
        Saved,
        Again
    };
    Round saverRound();
    void answerAlert(const UiElement &alert);
    QString saveDirectory() const;

    DesktopAutomation &m_desktop;
    QList<WindowInfo> m_topLevel;
    Target m_target;
    std::unique_ptr<DesktopProcess> m_process;
    bool m_lastRunSaved = false;
    int m_backupIndex = 0;
    Thread m_thread;
};

#pragma once

#include "platform/desktopautomation.h"

#include <QList>
#include <QThread>
#include <atomic>
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

// Where documents are saved when "dir" is empty or cannot be used (the data
// location's "Temp").
QString defaultSaveDirectory();
// Creates the directory if it is missing; true when it exists and is writable then.
bool prepareSaveDirectory(const QString &dir);

// The pre-shutdown pass: closes the other applications' windows, answers their
// save prompts, saves their documents under generated names, ends what does not
// end by itself, and records the pass in close_file.db. Blocks the calling thread
// for the whole pass, which is bounded in time by "exte_save_budget": windows still
// open when it runs out are recorded as not saved and their processes ended.
class OpenDocumentSaver
{
public:
    explicit OpenDocumentSaver(DesktopAutomation &desktop);
    ~OpenDocumentSaver();

    void closeApplications();

    // The number in the last generated document name; counts across passes.
    int backupIndex() const { return m_backupIndex; }

    // Rounds of one saver run when a dialog without edit field keeps coming back.
    static constexpr int maxRounds = 3;
    // A saver run that has not ended by then (or by the end of the budget) is given
    // up on: stopped and joined before anything else happens.
    static constexpr int saverRunTimeoutMs = 120000;

private:
    friend class Thread;
    struct Target
    {
        WindowInfo window;
        qint64 pid = 0;
    };

    struct SaveDirectory
    {
        QString path;
        QString unavailable; // the "dir" that could not be used, if any
    };

    void closeWindow(WindowInfo window, int attempt);
    void giveUp(WindowHandle window);
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
    SaveDirectory saveDirectory() const;
    // The file the application wrote for `name` (it may have added an extension),
    // if it exists and is not empty; waits a little while the dialog has gone.
    QString savedFile(const QString &name, bool dialogGone);

    DesktopAutomation &m_desktop;
    QList<WindowInfo> m_topLevel;
    Target m_target;
    std::unique_ptr<DesktopProcess> m_process;
    bool m_lastRunSaved = false;
    int m_backupIndex = 0;
    // On the desktop's clock.
    qint64 m_deadline = 0;
    // Set to stop a saver run that was given up on; it ends at its next step.
    std::atomic<bool> m_cancel{false};
    Thread m_thread;
};

#include "opendocumentsaver.h"

#include "config/datadir.h"
#include "config/params.h"
#include "model/logevent.h"
#include "shutdown/closefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {
// Development tools showing this project, and the application's own main window.
const QStringList skippedTitles{
    QStringLiteral("mainwindow - Voltiguard - Qt Creator"),
    QStringLiteral("closedialog - Voltiguard - Qt Creator"),
    QStringLiteral("send - Microsoft Visual Studio"),
    QStringLiteral("Voltiguard"),
};

bool affirmative(QString label)
{
    label.remove(QLatin1Char('_')).remove(QLatin1Char('&'));
    static const QRegularExpression yes(QStringLiteral("\\b(save|yes|ok|replace|overwrite)\\b|保存|是|确定|替换"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression no(
        QStringLiteral("don['’]?t|\\bdo not\\b|\\bnot?\\b|without|discard|cancel|不|取消|放弃"),
        QRegularExpression::CaseInsensitiveOption);
    return yes.match(label).hasMatch() && !no.match(label).hasMatch();
}

// The toolkits list their buttons in an order of their own (GTK puts Cancel first,
// Qt's file dialogs start with navigation buttons), so never go by position: the
// default button, else one labelled as saving or agreeing.
UiElement chooseButton(const QList<UiElement> &buttons)
{
    for (const UiElement &b : buttons) {
        if (b.isDefault)
            return b;
    }
    for (const UiElement &b : buttons) {
        if (affirmative(b.label))
            return b;
    }
    return {};
}

UiElement newWindow(const QList<UiElement> &before, const QList<UiElement> &after)
{
    for (const UiElement &w : after) {
        if (!before.contains(w))
            return w;
    }
    return {};
}
} // namespace

QString defaultSaveDirectory()
{
    return documentSaveDir();
}

bool prepareSaveDirectory(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    const QFileInfo info(dir);
    return info.isDir() && info.isWritable();
}

void Thread::run()
{
    m_saver.m_lastRunSaved = m_saver.saverRun();
}

OpenDocumentSaver::OpenDocumentSaver(DesktopAutomation &desktop) : m_desktop(desktop), m_thread(*this) {}

OpenDocumentSaver::~OpenDocumentSaver()
{
    // Every desktop call is bounded, so a stopped run ends soon.
    m_cancel = true;
    m_thread.wait();
}

void OpenDocumentSaver::closeApplications()
{
    const QString time = timeText();
    m_deadline = m_desktop.clockMs() + qint64(params.exte_save_budget) * 1000;
    m_desktop.pause(3000);
    // Enumerated afresh for every pass: the entries of an earlier pass are gone, and
    // their X11 ids may by now name unrelated windows.
    m_topLevel = m_desktop.applicationWindows();

    CloseFile::reset();
    CloseFile::setTime(time);

    const qint64 ownPid = QCoreApplication::applicationPid();
    const QList<WindowInfo> entries = m_topLevel;
    for (const WindowInfo &entry : entries) {
        if (skippedTitles.contains(entry.title))
            continue;
        const qint64 pid = m_desktop.windowProcessId(entry.handle);
        if (pid == ownPid)
            continue;
        m_target = Target{entry, pid};
        m_process = pid != 0 ? m_desktop.openProcess(pid) : nullptr;

        m_desktop.bringForward(entry.handle);
        m_desktop.requestClose(entry.handle);
        m_desktop.pause(2000);
        // Recorded whether or not the window closed.
        CloseFile::addClosed(entry.title);
        closeWindow(entry, 0);
        m_process.reset();
    }
}

void OpenDocumentSaver::closeWindow(WindowInfo window, int attempt)
{
    if (!m_desktop.isWindowVisible(window.handle)) {
        if (m_process && m_process->waitForExit(1000) == DesktopProcess::WaitResult::TimedOut)
            endTargetProcess(window.handle);
        return;
    }

    const qint64 left = m_deadline - m_desktop.clockMs();
    if (left <= 0) {
        giveUp(window.handle);
        return;
    }
    // An application that keeps its window after one document asks about the
    // next one only at the next close request.
    if (attempt > 0 && m_desktop.dialogWindows(m_target.pid).isEmpty()) {
        m_desktop.requestClose(window.handle);
        m_desktop.pause(2000);
    }
    m_lastRunSaved = false;
    m_cancel = false;
    m_thread.start();
    if (!m_thread.wait(QDeadlineTimer(qMin(left, qint64(saverRunTimeoutMs))))) {
        // Stopped and joined: the next run must not share the target with it.
        m_cancel = true;
        m_thread.wait();
        giveUp(window.handle);
        return;
    }

    m_desktop.pause(1000);
    if (!m_desktop.isWindowVisible(window.handle))
        return;
    // Three runs, and more while each run still saves a document: the budget, not a
    // count, bounds an editor with many documents.
    if (attempt + 1 <= 2 || m_lastRunSaved)
        closeWindow(window, attempt + 1);
    else
        endTargetProcess(window.handle);
    m_desktop.pause(1000);
}

// The window still holds documents that there is no time left to save.
void OpenDocumentSaver::giveUp(WindowHandle window)
{
    CloseFile::markLastClosedOutOfTime();
    endTargetProcess(window);
}

bool OpenDocumentSaver::otherApplicationWindows(qint64 pid, WindowHandle except)
{
    const QList<WindowInfo> windows = m_desktop.applicationWindows();
    for (const WindowInfo &w : windows) {
        if (w.handle != except && m_desktop.windowProcessId(w.handle) == pid)
            return true;
    }
    return false;
}

// One process can own several windows (a single-instance editor): it is ended only
// when none of its other windows is left to handle.
void OpenDocumentSaver::endTargetProcess(WindowHandle except)
{
    if (m_process && !otherApplicationWindows(m_target.pid, except))
        m_process->terminate();
}

bool OpenDocumentSaver::saverRun()
{
    for (int round = 0; round < maxRounds && !m_cancel; ++round) {
        const Round r = saverRound();
        if (r != Round::Again)
            return r == Round::Saved;
    }
    return false;
}

OpenDocumentSaver::Round OpenDocumentSaver::saverRound()
{
    const qint64 pid = m_target.pid;

    const QList<UiElement> prompts = m_desktop.dialogWindows(pid);
    if (prompts.isEmpty())
        return Round::Done;
    const UiElement prompt = prompts.first();

    const QList<UiElement> children = m_desktop.visibleChildren(prompt);
    if (children.isEmpty()) {
        m_desktop.pressReturn(prompt);
    } else {
        const UiElement button = chooseButton(m_desktop.buttons(prompt));
        if (!button.isNull())
            m_desktop.press(button);
        else
            m_desktop.pressReturn(children.first());
    }
    m_desktop.pause(2000);
    if (m_cancel)
        return Round::Done;

    UiElement dialog;
    for (const UiElement &d : m_desktop.dialogWindows(pid)) {
        if (d != prompt) {
            dialog = d;
            break;
        }
    }
    if (dialog.isNull()) {
        // Saved without a dialog, or nothing was asked.
        m_desktop.pause(2000);
        return m_desktop.isShowing(prompt) ? Round::Done : Round::Saved;
    }

    const QList<UiElement> fields = m_desktop.editFields(dialog);
    if (fields.isEmpty())
        return Round::Again;
    const UiElement field = fields.first();

    const SaveDirectory directory = saveDirectory();
    ++m_backupIndex;
    const QString name =
        directory.path + QStringLiteral("/backup%1_%2")
                             .arg(m_backupIndex)
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    m_desktop.typeText(field, name);
    if (m_desktop.text(field) != name)
        m_desktop.setText(field, name);
    // GTK drops a confirmation that follows the new text too closely.
    m_desktop.pause(300);
    if (m_cancel)
        return Round::Done;

    const QList<UiElement> before = m_desktop.dialogWindows(pid);
    const UiElement confirm = chooseButton(m_desktop.buttons(dialog));
    if (confirm.isNull())
        m_desktop.pressReturn(field);
    else
        m_desktop.press(confirm);
    m_desktop.pause(2000);
    // Only a window that the confirmation brought up (an overwrite question) is
    // answered; the dialog's own buttons are left alone.
    if (m_desktop.isShowing(dialog)) {
        const UiElement alert = newWindow(before, m_desktop.dialogWindows(pid));
        if (!alert.isNull()) {
            answerAlert(alert);
            m_desktop.pause(2000);
        }
    }

    // Saved only when the file is there: a dialog that took the name proves nothing.
    const bool dialogGone = !m_desktop.isShowing(dialog);
    const QString file = savedFile(name, dialogGone);
    if (!file.isEmpty())
        CloseFile::addSaved(m_target.window.title, file, directory.unavailable);
    return dialogGone ? Round::Saved : Round::Done;
}

void OpenDocumentSaver::answerAlert(const UiElement &alert)
{
    const UiElement button = chooseButton(m_desktop.buttons(alert));
    if (button.isNull())
        m_desktop.pressReturn(alert);
    else
        m_desktop.press(button);
}

OpenDocumentSaver::SaveDirectory OpenDocumentSaver::saveDirectory() const
{
    const QSettings settings(paramFilePath(), QSettings::IniFormat);
    const QString dir = settings.value(QStringLiteral("dir")).toString();
    // A missing directory (a typo, an unplugged stick) is created; one that cannot be
    // is replaced, so that the document is not lost.
    if (!dir.isEmpty() && prepareSaveDirectory(dir))
        return {dir, QString()};
    const QString fallback = defaultSaveDirectory();
    prepareSaveDirectory(fallback);
    return {fallback, dir};
}

QString OpenDocumentSaver::savedFile(const QString &name, bool dialogGone)
{
    // Writing may still go on after the dialog has closed.
    for (int wait = 0;; ++wait) {
        const QFileInfo wanted(name);
        if (wanted.exists() && wanted.size() > 0)
            return name;
        const QFileInfoList withExtension =
            wanted.dir().entryInfoList({wanted.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
        for (const QFileInfo &f : withExtension) {
            if (f.size() > 0)
                return f.filePath();
        }
        if (!dialogGone || wait == 6 || m_cancel)
            return QString();
        m_desktop.pause(500);
    }
}

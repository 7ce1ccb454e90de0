#pragma once

#include "platform/desktopautomation.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

// A scripted desktop for the pre-shutdown pass: applications that answer the close
// request the way real editors do, a clock of its own (pause() and waits move it,
// nothing sleeps), and a record of every operation the pass performs.
//
// An application is given by letters. Its answer to the close request:
//   c closes at once, s asks and Save writes `knownFile`, a asks and Save opens a
//   save dialog that writes the name in its edit field 300 ms after confirming,
//   b asks and Save opens a dialog without edit field that never goes, i ignores
//   it, h hides its window and keeps running;
// its toolkit's button order (the accessibility order, not the screen's):
//   g GTK (Cancel first), q Qt (a file dialog's navigation buttons first),
//   n GTK's labels without a default button, r no buttons at all (Return answers);
// x asks before replacing a file, m asks about its next document only at the next
// close request, p shares the process of the window added before it, o belongs to
// this process; a digit: its unsaved documents (1).
class FakeDesktop : public DesktopAutomation
{
public:
    QStringList ops; // "bringForward T", "requestClose T", "press L", "pressReturn L", "typeText X",
                     // "setText X", "terminate T", "saved PATH"
    QStringList saved;
    QList<qint64> running;
    QString knownFile;
    int pressBlocksMs = 0; // real time a press takes

    WindowHandle add(const QString &title, const QString &letters)
    {
        const QString digits = QString(letters).remove(QRegularExpression(QStringLiteral("\\D")));
        const qint64 pid = letters.contains('o')   ? QCoreApplication::applicationPid()
                           : letters.contains('p') ? m_windows.first().pid
                                                   : 1000 + m_windows.size();
        m_windows.prepend(
            {WindowHandle(0x400001 + m_windows.size()), title, letters, pid, digits.isEmpty() ? 1 : digits.toInt()});
        if (!running.contains(pid))
            running << pid;
        return m_windows.first().handle;
    }

    QList<WindowInfo> applicationWindows() override
    {
        runDue();
        QList<WindowInfo> list;
        for (const Window &w : std::as_const(m_windows)) {
            if (w.shown)
                list << WindowInfo{w.handle, w.title, QStringLiteral("FakeEditor")};
        }
        return list;
    }
    qint64 windowProcessId(WindowHandle handle) override { return window(handle) ? window(handle)->pid : 0; }
    bool isWindowVisible(WindowHandle handle) override { return runDue(), window(handle) && window(handle)->shown; }
    void bringForward(WindowHandle handle) override
    {
        const Window w = *window(handle);
        ops << QStringLiteral("bringForward ") + w.title;
        m_windows.removeIf([&](const Window &o) { return o.handle == handle; });
        m_windows.prepend(w);
    }
    void requestClose(WindowHandle handle) override
    {
        runDue();
        Window *w = window(handle);
        if (!w)
            return;
        ops << QStringLiteral("requestClose ") + w->title;
        const QChar answer = w->letters.at(0);
        if (answer == 'c' || (w->left == 0 && answer != 'i' && answer != 'h'))
            close(*w);
        else if (answer == 'h')
            w->shown = false;
        else if (answer != 'i' &&
                 std::none_of(m_order.begin(), m_order.end(), [&](int d) { return m_dialogs.at(d).owner == handle; }))
            open(handle, 'P');
    }

    QList<UiElement> dialogWindows(qint64 pid) override
    {
        runDue();
        QList<UiElement> list;
        for (int d : std::as_const(m_order)) {
            if (window(m_dialogs.at(d).owner)->pid == pid)
                list << UiElement{QString::number(d), UiElement::Role::Window};
        }
        return list;
    }
    QList<UiElement> visibleChildren(const UiElement &e) override
    {
        return isShowing(e) && !e.id.contains('/') ? m_dialogs.at(e.id.toInt()).children : QList<UiElement>();
    }
    QList<UiElement> buttons(const UiElement &window) override { return ofRole(window, UiElement::Role::Button); }
    QList<UiElement> editFields(const UiElement &window) override { return ofRole(window, UiElement::Role::EditField); }
    bool isShowing(const UiElement &e) override { return runDue(), m_order.contains(e.id.section('/', 0, 0).toInt()); }
    bool press(const UiElement &button) override
    {
        QThread::msleep(pressBlocksMs);
        if (!isShowing(button) || button.role != UiElement::Role::Button)
            return false;
        ops << QStringLiteral("press ") + button.label;
        activate(button.id.section('/', 0, 0).toInt(), button.label);
        return true;
    }
    bool pressReturn(const UiElement &e) override
    {
        if (!isShowing(e))
            return false;
        ops << QStringLiteral("pressReturn ") + e.label;
        const int d = e.id.section('/', 0, 0).toInt();
        const QList<UiElement> children = m_dialogs.at(d).children;
        const auto isDefault = std::find_if(children.begin(), children.end(), [](auto &c) { return c.isDefault; });
        if (e.role == UiElement::Role::EditField)
            confirm(d);
        else if (isDefault != children.end())
            activate(d, isDefault->label);
        else if (letters(d).contains('r'))
            activate(d, m_dialogs.at(d).kind == 'R' ? QStringLiteral("Replace") : QStringLiteral("Save"));
        return true;
    }
    bool typeText(const UiElement &field, const QString &text) override { return edit(field, "typeText ", text); }
    bool setText(const UiElement &field, const QString &text) override { return edit(field, "setText ", text); }
    QString text(const UiElement &field) override
    {
        return isShowing(field) ? m_dialogs.at(field.id.section('/', 0, 0).toInt()).field : QString();
    }

    std::unique_ptr<DesktopProcess> openProcess(qint64 pid) override
    {
        return running.contains(pid) ? std::make_unique<Process>(*this, pid) : nullptr;
    }
    void pause(int ms) override
    {
        m_now += ms;
        runDue();
    }
    qint64 clockMs() override { return m_now; }

private:
    struct Window
    {
        WindowHandle handle;
        QString title;
        QString letters;
        qint64 pid;
        int left; // unsaved documents
        bool shown = true;
        bool gone = false;
    };
    struct Dialog
    {
        QChar kind; // P prompt, S save dialog, B dialog without edit field, R replace question
        WindowHandle owner;
        QList<UiElement> children;
        QString field;
        qint64 writeAt = -1;
        int saveDialog = -1; // R: the dialog it answers for
    };
    class Process : public DesktopProcess
    {
    public:
        Process(FakeDesktop &desktop, qint64 pid) : m_desktop(desktop), m_pid(pid) {}
        qint64 pid() const override { return m_pid; }
        WaitResult waitForExit(int timeoutMs) override
        {
            if (m_desktop.running.contains(m_pid))
                m_desktop.pause(timeoutMs);
            return m_desktop.running.contains(m_pid) ? WaitResult::TimedOut : WaitResult::Exited;
        }
        void terminate() override
        {
            if (!m_desktop.running.removeOne(m_pid))
                return;
            for (Window &w : m_desktop.m_windows) {
                if (w.pid == m_pid && !m_desktop.ops.last().startsWith(QLatin1String("terminate")))
                    m_desktop.ops << QStringLiteral("terminate ") + w.title;
                if (w.pid == m_pid)
                    m_desktop.close(w);
            }
        }

    private:
        FakeDesktop &m_desktop;
        qint64 m_pid;
    };

    Window *window(WindowHandle handle)
    {
        for (Window &w : m_windows) {
            if (w.handle == handle && !w.gone)
                return &w;
        }
        return nullptr;
    }
    QString letters(int d) { return window(m_dialogs.at(d).owner)->letters; }
    QList<UiElement> ofRole(const UiElement &window, UiElement::Role role)
    {
        QList<UiElement> list = visibleChildren(window);
        list.removeIf([&](const UiElement &e) { return e.role != role; });
        return list;
    }
    bool edit(const UiElement &field, const char *op, const QString &text)
    {
        if (!isShowing(field) || field.role != UiElement::Role::EditField)
            return false;
        ops << QLatin1String(op) + text;
        m_dialogs[field.id.section('/', 0, 0).toInt()].field = text;
        return true;
    }
    // Children: "?" a label, "#" the edit field, "*" the default button, else a button.
    void open(WindowHandle owner, QChar kind, int saveDialog = -1)
    {
        const QString toolkit = window(owner)->letters;
        const QString title = window(owner)->title;
        QStringList spec;
        if (kind == 'P')
            spec = toolkit.contains('q') ? QStringList{"*Save", "Cancel", "Discard"}
                                         : QStringList{"Cancel", "Don't Save", "*Save"};
        else if (kind == 'S')
            spec = toolkit.contains('q')
                       ? QStringList{"Back", "Forward", "Parent Directory", "#File name:", "*Save", "Cancel"}
                       : QStringList{"Up Path", "Down Path", "#Name", "Cancel", "*Save"};
        else
            spec = kind == 'B' ? QStringList{"Back", "*Open"} : QStringList{"Cancel", "*Replace"};
        spec.prepend(kind == 'P' ? QStringLiteral("?Save changes to \"%1\"?").arg(title) : QStringLiteral("?Choose"));
        Dialog dialog{kind, owner};
        dialog.saveDialog = saveDialog;
        for (QString c : std::as_const(spec)) {
            const bool isDefault = c.startsWith('*') && !toolkit.contains('n');
            const auto role = c.startsWith('?')   ? UiElement::Role::Other
                              : c.startsWith('#') ? UiElement::Role::EditField
                                                  : UiElement::Role::Button;
            c.remove(QRegularExpression(QStringLiteral("^[?#*]")));
            if (role != UiElement::Role::Button || !toolkit.contains('r'))
                dialog.children << UiElement{QStringLiteral("%1/%2").arg(m_dialogs.size()).arg(dialog.children.size()),
                                             role, c, isDefault};
        }
        m_order.prepend(int(m_dialogs.size()));
        m_dialogs << dialog;
    }
    void activate(int d, const QString &label)
    {
        Window *w = window(m_dialogs.at(d).owner);
        const QChar kind = m_dialogs.at(d).kind;
        const bool save = label == QLatin1String("Save") || label == QLatin1String("Replace");
        if (kind == 'S' && save)
            return confirm(d);
        if (kind == 'B' || (kind == 'S' && !save))
            return;
        m_order.removeOne(d);
        if (kind == 'R' && save) {
            m_order.removeOne(m_dialogs.at(d).saveDialog);
            write(*w, m_dialogs.at(m_dialogs.at(d).saveDialog).field);
        } else if (kind == 'P' && save && w->letters.at(0) == 's') {
            write(*w, knownFile);
        } else if (kind == 'P' && save) {
            return open(w->handle, w->letters.at(0) == 'a' ? 'S' : 'B');
        } else if (kind == 'R' || label == QLatin1String("Cancel")) {
            return;
        }
        documentDone(*w);
    }
    void confirm(int d)
    {
        if (m_dialogs.at(d).writeAt < 0 && !m_dialogs.at(d).field.isEmpty())
            m_dialogs[d].writeAt = m_now + 300;
    }
    // Like a real toolkit, a save dialog goes on showing while the file is written.
    bool runDue()
    {
        for (int d : QList<int>(m_order)) {
            Dialog &dialog = m_dialogs[d];
            if (dialog.writeAt < 0 || dialog.writeAt > m_now)
                continue;
            dialog.writeAt = -1;
            Window &w = *window(dialog.owner);
            if (w.letters.contains('x') && QFile::exists(dialog.field))
                return open(w.handle, 'R', d), true;
            m_order.removeOne(d);
            write(w, dialog.field);
            documentDone(w);
        }
        return true;
    }
    void write(const Window &w, const QString &path)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write("unsaved text") > 0) {
            ops << QStringLiteral("saved ") + path;
            saved << path;
        }
    }
    void documentDone(Window &w)
    {
        if (--w.left <= 0)
            close(w);
        else if (!w.letters.contains('m'))
            open(w.handle, 'P');
    }
    void close(Window &w)
    {
        w.shown = false;
        w.gone = true;
        m_order.removeIf([&](int d) { return m_dialogs.at(d).owner == w.handle; });
        if (std::none_of(m_windows.begin(), m_windows.end(), [&](auto &o) { return o.pid == w.pid && !o.gone; }))
            running.removeOne(w.pid);
    }

    qint64 m_now = 0;
    QList<Window> m_windows; // frontmost first
    QList<Dialog> m_dialogs; // by id
    QList<int> m_order;      // the shown dialogs, frontmost first
};

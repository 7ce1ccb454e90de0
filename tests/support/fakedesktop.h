#pragma once

#include "platform/desktopautomation.h"

#include <QtCore>

// A scripted desktop for the pre-shutdown pass, with a clock of its own, recording the operations: "T:" window T
// brought forward, "close", a button's label, "Return", "type", ">PATH" written, "end" terminated.
// An application's letters. Its answer to closing: c closes; s asks, Save writes knownFile; a asks, Save opens a
// save dialog that writes its name 300 ms after confirming; b asks, Save opens a dialog without edit field that
// stays; i ignores it; h hides and keeps running. Button order: g GTK (Cancel first), q Qt (navigation first), n
// no default button, r no buttons (Return). x asks before replacing a file, m asks about its next document only
// at the next close request, p shares the previous window's process, o is this process; a number: documents (1).
class FakeDesktop : public DesktopAutomation
{
public:
    QStringList ops, saved;
    QList<qint64> running;
    QString knownFile;
    int pressBlocksMs = 0; // real time each press takes

    void add(const QString &title, const QString &letters)
    {
        const QString count = QString(letters).remove(QRegularExpression("\\D"));
        const qint64 pid = letters.contains('o')   ? QCoreApplication::applicationPid()
                           : letters.contains('p') ? m_windows.first().pid
                                                   : 1000 + m_windows.size();
        m_windows.prepend({WindowHandle(100 + m_windows.size()), title, letters, pid, qMax(1, count.toInt())});
        running << pid;
    }

    QList<WindowInfo> applicationWindows() override
    {
        QList<WindowInfo> list;
        for (const Window &w : std::as_const(m_windows))
            list << (w.shown && !w.gone ? QList<WindowInfo>{{w.handle, w.title, "FakeEditor"}} : QList<WindowInfo>());
        return list;
    }
    qint64 windowProcessId(WindowHandle handle) override { return window(handle) ? window(handle)->pid : 0; }
    bool isWindowVisible(WindowHandle handle) override { return window(handle) && window(handle)->shown; }
    void bringForward(WindowHandle handle) override
    {
        if (Window *w = window(handle)) {
            ops << w->title + ':';
            m_windows.move(w - m_windows.data(), 0);
        }
    }
    void requestClose(WindowHandle handle) override
    {
        Window *w = window(handle);
        if (!w)
            return;
        ops << "close";
        const QChar answer = w->letters.at(0);
        if (answer == 'h')
            w->shown = false;
        else if (answer != 'i')
            answer == 'c' ? close(*w) : open(handle, 'P');
    }

    QList<UiElement> dialogWindows(qint64 pid) override
    {
        QList<UiElement> list;
        for (int d : std::as_const(m_order))
            list << (window(m_dialogs[d].owner)->pid == pid
                         ? QList<UiElement>{{QString::number(d), UiElement::Role::Window, {}, false}}
                         : QList<UiElement>());
        return list;
    }
    QList<UiElement> visibleChildren(const UiElement &e) override
    {
        return isShowing(e) && !e.id.contains('/') ? m_dialogs[e.id.toInt()].children : QList<UiElement>();
    }
    QList<UiElement> buttons(const UiElement &window) override { return ofRole(window, UiElement::Role::Button); }
    QList<UiElement> editFields(const UiElement &window) override { return ofRole(window, UiElement::Role::EditField); }
    bool isShowing(const UiElement &e) override { return m_order.contains(dialogOf(e)); }
    bool press(const UiElement &button) override
    {
        QThread::msleep(pressBlocksMs);
        ops << button.label;
        activate(dialogOf(button), button.label);
        return true;
    }
    bool pressReturn(const UiElement &e) override
    {
        ops << "Return";
        e.role == UiElement::Role::EditField ? confirm(dialogOf(e)) : activate(dialogOf(e), "Save");
        return true;
    }
    bool typeText(const UiElement &field, const QString &text) override
    {
        ops << "type";
        return setText(field, text);
    }
    bool setText(const UiElement &field, const QString &text) override
    {
        m_dialogs[dialogOf(field)].field = text;
        return true;
    }
    QString text(const UiElement &field) override { return m_dialogs[dialogOf(field)].field; }

    std::unique_ptr<DesktopProcess> openProcess(qint64 pid) override
    {
        return running.contains(pid) ? std::make_unique<Process>(*this, pid) : nullptr;
    }
    // Like a real toolkit, a save dialog goes on showing while the file is written.
    void pause(int ms) override
    {
        m_now += ms;
        for (int d : QList<int>(m_order)) {
            Dialog &dialog = m_dialogs[d];
            Window &w = *window(dialog.owner);
            if (dialog.writeAt < 0 || dialog.writeAt > m_now)
                continue;
            dialog.writeAt = -1;
            if (w.letters.contains('x') && QFile::exists(dialog.field))
                return open(w.handle, 'R', d);
            m_order.removeOne(d);
            write(w, dialog.field);
        }
    }
    qint64 clockMs() override { return m_now; }

private:
    struct Window
    {
        WindowHandle handle;
        QString title, letters;
        qint64 pid;
        int left; // unsaved documents
        bool shown = true, gone = false;
    };
    struct Dialog
    {
        QChar kind; // P prompt, S save dialog, B dialog without edit field, R replace question
        WindowHandle owner;
        int saveDialog; // R: the dialog it answers for
        QList<UiElement> children = {};
        QString field = {};
        qint64 writeAt = -1;
    };
    struct Process : DesktopProcess
    {
        Process(FakeDesktop &desktop, qint64 pid) : d(desktop), id(pid) {}
        qint64 pid() const override { return id; }
        WaitResult waitForExit(int timeoutMs) override
        {
            d.pause(d.running.contains(id) ? timeoutMs : 0);
            return d.running.contains(id) ? WaitResult::TimedOut : WaitResult::Exited;
        }
        void terminate() override
        {
            if (d.running.removeAll(id))
                d.ops << "end";
            for (Window &w : d.m_windows)
                if (w.pid == id)
                    d.close(w);
        }
        FakeDesktop &d;
        qint64 id;
    };

    Window *window(WindowHandle handle)
    {
        const auto w = std::find_if(m_windows.begin(), m_windows.end(), [&](auto &w) { return w.handle == handle; });
        return w == m_windows.end() || w->gone ? nullptr : &*w;
    }
    int dialogOf(const UiElement &e) { return e.id.section('/', 0, 0).toInt(); }
    QList<UiElement> ofRole(const UiElement &window, UiElement::Role role)
    {
        QList<UiElement> list = visibleChildren(window);
        list.removeIf([&](const UiElement &e) { return e.role != role; });
        return list;
    }
    // Children: "?" a label, "#" the edit field, "*" the default button, else a button.
    void open(WindowHandle owner, QChar kind, int saveDialog = -1)
    {
        const QString letters = window(owner)->letters;
        const QString layout =
            kind == 'P'
                ? letters.contains('q') ? "?Save changes|*Save|Cancel|Discard" : "?Save changes|Cancel|Don't Save|*Save"
            : kind == 'S' ? letters.contains('q') ? "Back|Forward|Parent Directory|#File name:|*Save|Cancel"
                                                  : "Up Path|Down Path|#Name|Cancel|*Save"
            : kind == 'B' ? "?Choose a folder|Back|*Open"
                          : "?Replace it?|Cancel|*Replace";
        Dialog dialog{kind, owner, saveDialog};
        for (const QString &c : layout.split('|')) {
            const auto role = c[0] == '?'   ? UiElement::Role::Other
                              : c[0] == '#' ? UiElement::Role::EditField
                                            : UiElement::Role::Button;
            const QString id = QString("%1/%2").arg(m_dialogs.size()).arg(dialog.children.size());
            if (role != UiElement::Role::Button || !letters.contains('r'))
                dialog.children << UiElement{id, role, c.mid(c[0] == '?' || c[0] == '#' || c[0] == '*'),
                                             c[0] == '*' && !letters.contains('n')};
        }
        m_order.prepend(int(m_dialogs.size()));
        m_dialogs << dialog;
    }
    void activate(int d, const QString &label)
    {
        const Dialog dialog = m_dialogs[d];
        Window &w = *window(dialog.owner);
        const bool yes = label == "Save" || label == "Replace";
        if (dialog.kind == 'S' && yes && dialog.writeAt < 0)
            return confirm(d);
        if (dialog.kind == 'S' || dialog.kind == 'B' || !m_order.removeOne(d) || !yes)
            return;
        if (dialog.kind == 'R')
            m_order.removeOne(dialog.saveDialog);
        if (dialog.kind == 'R' || w.letters[0] == 's')
            return write(w, dialog.kind == 'R' ? m_dialogs[dialog.saveDialog].field : knownFile);
        open(w.handle, w.letters[0] == 'a' ? 'S' : 'B');
    }
    void confirm(int d) { m_dialogs[d].writeAt = m_now + 300; }
    // The document is done: the next is asked about, or the window closes.
    void write(Window &w, const QString &path)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write("unsaved text") > 0) {
            ops << '>' + path;
            saved << path;
        }
        if (--w.left <= 0)
            close(w);
        else if (!w.letters.contains('m'))
            open(w.handle, 'P');
    }
    void close(Window &w)
    {
        w.gone = true;
        m_order.removeIf([&](int d) { return m_dialogs[d].owner == w.handle; });
        if (std::none_of(m_windows.begin(), m_windows.end(), [&](auto &o) { return o.pid == w.pid && !o.gone; }))
            running.removeAll(w.pid);
    }

    qint64 m_now = 0;
    QList<Window> m_windows; // frontmost first
    QList<Dialog> m_dialogs; // by id
    QList<int> m_order;      // the shown dialogs, frontmost first
};

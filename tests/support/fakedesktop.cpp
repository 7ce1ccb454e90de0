#include "fakedesktop.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>

class FakeDesktop::Process : public DesktopProcess
{
public:
    Process(FakeDesktop &desktop, qint64 pid) : m_desktop(desktop), m_pid(pid) {}
    qint64 pid() const override { return m_pid; }

    WaitResult waitForExit(int timeoutMs) override
    {
        QMutexLocker lock(&m_desktop.m_mutex);
        m_desktop.runDue();
        if (m_desktop.m_running.contains(m_pid))
            m_desktop.advance(timeoutMs);
        return m_desktop.m_running.contains(m_pid) ? WaitResult::TimedOut : WaitResult::Exited;
    }

    void terminate() override
    {
        QMutexLocker lock(&m_desktop.m_mutex);
        if (!m_desktop.m_running.contains(m_pid))
            return;
        QString title;
        for (const Window &w : std::as_const(m_desktop.m_windows)) {
            if (w.pid == m_pid) {
                title = w.app.title;
                break;
            }
        }
        m_desktop.record(QStringLiteral("terminate ") + title);
        m_desktop.m_terminated.append(m_pid);
        m_desktop.endProcess(m_pid);
    }

private:
    FakeDesktop &m_desktop;
    qint64 m_pid;
};

WindowHandle FakeDesktop::addApplication(const Application &app)
{
    QMutexLocker lock(&m_mutex);
    Window window;
    window.handle = m_nextHandle++;
    window.app = app;
    window.pid = app.pid != 0 ? app.pid : m_nextPid++;
    window.documentsLeft = app.unsavedDocuments;
    if (!m_running.contains(window.pid))
        m_running.append(window.pid);
    m_windows.prepend(window);
    return window.handle;
}

qint64 FakeDesktop::pidOf(WindowHandle window) const
{
    QMutexLocker lock(&m_mutex);
    for (const Window &w : m_windows) {
        if (w.handle == window)
            return w.pid;
    }
    return 0;
}

bool FakeDesktop::isRunning(qint64 pid) const
{
    QMutexLocker lock(&m_mutex);
    return m_running.contains(pid);
}

bool FakeDesktop::wasTerminated(qint64 pid) const
{
    QMutexLocker lock(&m_mutex);
    return m_terminated.contains(pid);
}

QList<FakeDesktop::Operation> FakeDesktop::operations() const
{
    QMutexLocker lock(&m_mutex);
    return m_operations;
}

QStringList FakeDesktop::operationTexts() const
{
    QMutexLocker lock(&m_mutex);
    QStringList texts;
    for (const Operation &op : m_operations)
        texts.append(op.what);
    return texts;
}

QStringList FakeDesktop::savedFiles() const
{
    QMutexLocker lock(&m_mutex);
    return m_saved;
}

qint64 FakeDesktop::elapsedMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_now;
}

QList<WindowInfo> FakeDesktop::applicationWindows()
{
    QMutexLocker lock(&m_mutex);
    runDue();
    QList<WindowInfo> list;
    for (const Window &w : std::as_const(m_windows)) {
        if (w.shown && !w.gone)
            list.append(WindowInfo{w.handle, w.app.title, w.app.className});
    }
    return list;
}

qint64 FakeDesktop::windowProcessId(WindowHandle window)
{
    QMutexLocker lock(&m_mutex);
    const Window *w = windowOf(window);
    return w && !w->gone ? w->pid : 0;
}

bool FakeDesktop::isWindowVisible(WindowHandle window)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    const Window *w = windowOf(window);
    return w && w->shown && !w->gone;
}

void FakeDesktop::bringForward(WindowHandle window)
{
    QMutexLocker lock(&m_mutex);
    const auto it =
        std::find_if(m_windows.begin(), m_windows.end(), [&](const Window &w) { return w.handle == window; });
    if (it == m_windows.end())
        return;
    record(QStringLiteral("bringForward ") + it->app.title);
    const Window moved = *it;
    m_windows.erase(it);
    m_windows.prepend(moved);
}

void FakeDesktop::requestClose(WindowHandle window)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    Window *w = windowOf(window);
    if (!w || w->gone)
        return;
    record(QStringLiteral("requestClose ") + w->app.title);
    switch (w->app.behaviour) {
    case Behaviour::ClosesAtOnce:
        closeWindow(*w);
        return;
    case Behaviour::IgnoresClose:
        return;
    case Behaviour::HidesAndKeepsRunning:
        w->shown = false;
        return;
    case Behaviour::SavesSilently:
    case Behaviour::AsksForName:
    case Behaviour::DialogWithoutEditField:
        break;
    }
    if (w->documentsLeft == 0) {
        closeWindow(*w);
        return;
    }
    const bool asking = std::any_of(m_dialogs.begin(), m_dialogs.end(), [&](const auto &entry) {
        return entry.second.shown && entry.second.owner == window;
    });
    if (!asking)
        openDialog(window, Kind::Prompt);
}

QList<UiElement> FakeDesktop::dialogWindows(qint64 pid)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    QList<UiElement> list;
    for (int id : std::as_const(m_dialogOrder)) {
        const Dialog &d = m_dialogs.at(id);
        const Window *w = windowOf(d.owner);
        if (d.shown && w && w->pid == pid)
            list.append(toUi(d));
    }
    return list;
}

QList<UiElement> FakeDesktop::visibleChildren(const UiElement &window)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    QList<UiElement> list;
    const Dialog *d = dialogOf(window);
    if (d && d->shown && d->id == window.id.mid(5).toInt()) {
        for (int id : d->children)
            list.append(toUi(m_elements.at(id)));
    }
    return list;
}

QList<UiElement> FakeDesktop::buttons(const UiElement &window)
{
    QList<UiElement> list = visibleChildren(window);
    list.erase(
        std::remove_if(list.begin(), list.end(), [](const UiElement &e) { return e.role != UiElement::Role::Button; }),
        list.end());
    return list;
}

QList<UiElement> FakeDesktop::editFields(const UiElement &window)
{
    QList<UiElement> list = visibleChildren(window);
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const UiElement &e) { return e.role != UiElement::Role::EditField; }),
               list.end());
    return list;
}

bool FakeDesktop::isShowing(const UiElement &element)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    const Dialog *d = dialogOf(element);
    return d && d->shown;
}

bool FakeDesktop::press(const UiElement &button)
{
    // An application that does not answer for a while: real time passes.
    QThread::msleep(static_cast<unsigned long>(pressBlocksMs));
    QMutexLocker lock(&m_mutex);
    runDue();
    Element *e = shownElement(button, UiElement::Role::Button);
    if (!e)
        return false;
    record(QStringLiteral("press ") + e->label);
    activate(*dialogOf(button), *e);
    return true;
}

bool FakeDesktop::pressReturn(const UiElement &element)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    Dialog *d = dialogOf(element);
    if (!d || !d->shown)
        return false;
    record(QStringLiteral("pressReturn ") + element.label);
    const Window *w = windowOf(d->owner);
    if (d->kind == Kind::SaveDialog && element.role == UiElement::Role::EditField) {
        confirmSave(*d);
        return true;
    }
    for (int id : std::as_const(d->children)) {
        const Element &e = m_elements.at(id);
        if (e.isDefault) {
            activate(*d, e);
            return true;
        }
    }
    if (w && w->app.toolkit == Toolkit::NoButtons) {
        // Without buttons, Return stands for the window's default answer.
        Element implicit;
        implicit.role = UiElement::Role::Button;
        implicit.label = d->kind == Kind::ReplaceAlert ? QStringLiteral("Replace") : QStringLiteral("Save");
        activate(*d, implicit);
    }
    return true;
}

bool FakeDesktop::typeText(const UiElement &field, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    Element *e = shownElement(field, UiElement::Role::EditField);
    if (!e)
        return false;
    record(QStringLiteral("typeText ") + text);
    e->text = e->selected ? text : e->text + text;
    e->selected = false;
    return true;
}

QString FakeDesktop::text(const UiElement &field)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    const Element *e = shownElement(field);
    return e ? e->text : QString();
}

bool FakeDesktop::setText(const UiElement &field, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    runDue();
    Element *e = shownElement(field, UiElement::Role::EditField);
    if (!e)
        return false;
    record(QStringLiteral("setText ") + text);
    e->text = text;
    e->selected = false;
    return true;
}

std::unique_ptr<DesktopProcess> FakeDesktop::openProcess(qint64 pid)
{
    QMutexLocker lock(&m_mutex);
    if (!m_running.contains(pid))
        return nullptr;
    return std::make_unique<Process>(*this, pid);
}

void FakeDesktop::pause(int ms)
{
    QMutexLocker lock(&m_mutex);
    advance(ms);
}

UiElement FakeDesktop::toUi(const Element &e) const
{
    UiElement ui;
    ui.id = QStringLiteral("fake:%1").arg(e.id);
    ui.role = e.role;
    ui.label = e.label;
    ui.isDefault = e.isDefault;
    return ui;
}

UiElement FakeDesktop::toUi(const Dialog &d) const
{
    UiElement ui;
    ui.id = QStringLiteral("fake:%1").arg(d.id);
    ui.role = UiElement::Role::Window;
    const Window *w = const_cast<FakeDesktop *>(this)->windowOf(d.owner);
    switch (d.kind) {
    case Kind::Prompt:
        // Qt 5 alerts carry no accessible name.
        ui.label = w && w->app.toolkit == Toolkit::Qt ? QString() : QStringLiteral("Save Changes");
        break;
    case Kind::SaveDialog:
        ui.label = QStringLiteral("Save As");
        break;
    case Kind::BlindDialog:
        ui.label = QStringLiteral("Choose");
        break;
    case Kind::ReplaceAlert:
        ui.label = QStringLiteral("Replace?");
        break;
    }
    return ui;
}

FakeDesktop::Window *FakeDesktop::windowOf(WindowHandle handle)
{
    for (Window &w : m_windows) {
        if (w.handle == handle)
            return &w;
    }
    return nullptr;
}

FakeDesktop::Dialog *FakeDesktop::dialogOf(const UiElement &element)
{
    if (!element.id.startsWith(QLatin1String("fake:")))
        return nullptr;
    const int id = element.id.mid(5).toInt();
    if (const auto d = m_dialogs.find(id); d != m_dialogs.end())
        return &d->second;
    if (const auto e = m_elements.find(id); e != m_elements.end())
        return &m_dialogs.at(e->second.window);
    return nullptr;
}

FakeDesktop::Element *FakeDesktop::shownElement(const UiElement &element, std::optional<UiElement::Role> role)
{
    const Dialog *d = dialogOf(element);
    const auto it = m_elements.find(element.id.mid(5).toInt());
    if (!d || !d->shown || it == m_elements.end() || (role && it->second.role != *role))
        return nullptr;
    return &it->second;
}

void FakeDesktop::record(const QString &what)
{
    m_operations.append(Operation{m_now, what});
}

void FakeDesktop::advance(qint64 ms)
{
    m_now += qMax<qint64>(ms, 0);
    runDue();
}

void FakeDesktop::runDue()
{
    for (;;) {
        const auto next = std::min_element(m_due.begin(), m_due.end(),
                                           [](const auto &a, const auto &b) { return a.first < b.first; });
        if (next == m_due.end() || next->first > m_now)
            return;
        const std::function<void()> action = next->second;
        m_due.erase(next);
        action();
    }
}

void FakeDesktop::at(qint64 delayMs, std::function<void()> action)
{
    m_due.append({m_now + delayMs, std::move(action)});
}

int FakeDesktop::addElement(Dialog &dialog, UiElement::Role role, const QString &label, bool isDefault)
{
    Element e;
    e.id = m_nextId++;
    e.window = dialog.id;
    e.role = role;
    e.label = label;
    e.isDefault = isDefault;
    if (role == UiElement::Role::EditField) {
        e.text = QStringLiteral("Untitled 1");
        e.selected = true;
    }
    m_elements.emplace(e.id, e);
    dialog.children.append(e.id);
    return e.id;
}

void FakeDesktop::openDialog(WindowHandle owner, Kind kind)
{
    const Window *w = windowOf(owner);
    if (!w)
        return;
    const Toolkit toolkit = w->app.toolkit;
    Dialog d;
    d.id = m_nextId++;
    d.kind = kind;
    d.owner = owner;
    using Role = UiElement::Role;
    const bool defaults = toolkit == Toolkit::Gtk || toolkit == Toolkit::Qt;
    switch (kind) {
    case Kind::Prompt:
        addElement(d, Role::Other, QStringLiteral("Save changes to \"%1\"?").arg(w->app.title));
        if (toolkit == Toolkit::Qt) {
            addElement(d, Role::Button, QStringLiteral("Save"), true);
            addElement(d, Role::Button, QStringLiteral("Cancel"));
            addElement(d, Role::Button, QStringLiteral("Discard"));
        } else if (toolkit != Toolkit::NoButtons) {
            addElement(d, Role::Button, QStringLiteral("Cancel"));
            addElement(d, Role::Button, QStringLiteral("Don't Save"));
            addElement(d, Role::Button, QStringLiteral("Save"), defaults);
        }
        break;
    case Kind::SaveDialog:
        if (toolkit == Toolkit::Qt) {
            addElement(d, Role::Button, QStringLiteral("Back"));
            addElement(d, Role::Button, QStringLiteral("Forward"));
            addElement(d, Role::Button, QStringLiteral("Parent Directory"));
            addElement(d, Role::EditField, QStringLiteral("File name:"));
            addElement(d, Role::Button, QStringLiteral("Save"), true);
            addElement(d, Role::Button, QStringLiteral("Cancel"));
        } else if (toolkit == Toolkit::NoButtons) {
            addElement(d, Role::EditField, QStringLiteral("Name"));
        } else {
            if (toolkit == Toolkit::Gtk) {
                addElement(d, Role::Button, QStringLiteral("Up Path"));
                addElement(d, Role::Button, QStringLiteral("Down Path"));
            }
            addElement(d, Role::EditField, QStringLiteral("Name"));
            addElement(d, Role::Button, QStringLiteral("Cancel"));
            addElement(d, Role::Button, QStringLiteral("Save"), defaults);
        }
        break;
    case Kind::BlindDialog:
        addElement(d, Role::Other, QStringLiteral("Choose a folder"));
        addElement(d, Role::Button, QStringLiteral("Back"));
        addElement(d, Role::Button, QStringLiteral("Open"), defaults);
        break;
    case Kind::ReplaceAlert:
        addElement(d, Role::Other, QStringLiteral("The file already exists. Replace it?"));
        if (toolkit != Toolkit::NoButtons) {
            addElement(d, Role::Button, QStringLiteral("Cancel"));
            addElement(d, Role::Button, QStringLiteral("Replace"), defaults);
        }
        break;
    }
    m_dialogs.emplace(d.id, d);
    m_dialogOrder.prepend(d.id);
}

void FakeDesktop::closeDialog(int dialogId)
{
    const auto it = m_dialogs.find(dialogId);
    if (it != m_dialogs.end())
        it->second.shown = false;
    m_dialogOrder.removeAll(dialogId);
}

void FakeDesktop::activate(Dialog &dialog, const Element &element)
{
    const QString &label = element.label;
    const WindowHandle owner = dialog.owner;
    Window *w = windowOf(owner);
    if (!w)
        return;
    switch (dialog.kind) {
    case Kind::Prompt:
        if (label == QLatin1String("Save")) {
            closeDialog(dialog.id);
            if (w->app.behaviour == Behaviour::SavesSilently) {
                writeFile(owner, w->app.knownFile);
                documentDone(owner);
            } else {
                openDialog(owner, w->app.behaviour == Behaviour::AsksForName ? Kind::SaveDialog : Kind::BlindDialog);
            }
        } else if (label == QLatin1String("Don't Save") || label == QLatin1String("Discard")) {
            closeDialog(dialog.id);
            record(QStringLiteral("discarded ") + w->app.title);
            documentDone(owner);
        } else if (label == QLatin1String("Cancel")) {
            closeDialog(dialog.id);
        }
        return;
    case Kind::SaveDialog:
        if (label == QLatin1String("Save"))
            confirmSave(dialog);
        else if (label == QLatin1String("Cancel"))
            closeDialog(dialog.id);
        return;
    case Kind::ReplaceAlert:
        if (label == QLatin1String("Replace")) {
            const int saveDialog = dialog.saveDialog;
            closeDialog(dialog.id);
            closeDialog(saveDialog);
            writeFile(owner, dialog.pendingPath);
            documentDone(owner);
        } else if (label == QLatin1String("Cancel")) {
            closeDialog(dialog.id);
        }
        return;
    case Kind::BlindDialog:
        return;
    }
}

void FakeDesktop::confirmSave(Dialog &dialog)
{
    if (dialog.confirming)
        return;
    QString path;
    for (int id : std::as_const(dialog.children)) {
        if (m_elements.at(id).role == UiElement::Role::EditField)
            path = m_elements.at(id).text;
    }
    if (path.isEmpty())
        return;
    dialog.confirming = true;
    const int dialogId = dialog.id;
    const WindowHandle owner = dialog.owner;
    // Like a real toolkit, the dialog goes on showing while the file is written.
    at(saveDelayMs, [this, dialogId, owner, path] {
        Dialog &d = m_dialogs.at(dialogId);
        d.confirming = false;
        const Window *w = windowOf(owner);
        if (!d.shown || !w || w->gone)
            return;
        if (w->app.asksBeforeReplacing && QFileInfo::exists(path)) {
            openDialog(owner, Kind::ReplaceAlert);
            Dialog &alert = m_dialogs.at(m_dialogOrder.first());
            alert.pendingPath = path;
            alert.saveDialog = dialogId;
            return;
        }
        closeDialog(dialogId);
        writeFile(owner, path);
        documentDone(owner);
    });
}

void FakeDesktop::documentDone(WindowHandle owner)
{
    Window *w = windowOf(owner);
    if (!w || w->gone)
        return;
    if (--w->documentsLeft <= 0) {
        closeWindow(*w);
        return;
    }
    if (!w->app.closeRequestPerDocument)
        openDialog(owner, Kind::Prompt);
}

void FakeDesktop::writeFile(WindowHandle owner, const QString &path)
{
    const Window *w = windowOf(owner);
    QFile file(path);
    if (!w || path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(w->app.contents.toUtf8());
    record(QStringLiteral("saved ") + path);
    m_saved.append(path);
}

void FakeDesktop::closeWindow(Window &window)
{
    window.shown = false;
    window.gone = true;
    for (auto &entry : m_dialogs) {
        if (entry.second.owner == window.handle)
            closeDialog(entry.first);
    }
    const qint64 pid = window.pid;
    const bool windowsLeft =
        std::any_of(m_windows.begin(), m_windows.end(), [pid](const Window &w) { return w.pid == pid && !w.gone; });
    if (!windowsLeft)
        m_running.removeAll(pid);
}

void FakeDesktop::endProcess(qint64 pid)
{
    m_running.removeAll(pid);
    for (Window &w : m_windows) {
        if (w.pid == pid && !w.gone) {
            w.shown = false;
            w.gone = true;
            for (auto &entry : m_dialogs) {
                if (entry.second.owner == w.handle)
                    closeDialog(entry.first);
            }
        }
    }
}

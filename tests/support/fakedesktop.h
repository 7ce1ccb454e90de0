#pragma once

#include "platform/desktopautomation.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

// A scripted desktop for testing the pre-shutdown pass without a display. It plays
// applications that react to the close request the way real editors do, keeps its
// own clock (pause() and waits move it, nothing sleeps) and records every operation
// the pass performs on it.
//
// An asking application puts up a prompt "Save changes?" for one unsaved document;
// its buttons follow the chosen toolkit's order. "Save" either writes the document
// to its known file or opens a save dialog; the dialog writes the document to the
// path in its edit field `saveDelayMs` after it was confirmed (it stays shown until
// then), and closes. When the last unsaved document is done the window closes and,
// when the process has no window left, the process exits.
class FakeDesktop : public DesktopAutomation
{
public:
    enum class Behaviour
    {
        ClosesAtOnce,           // window and process go at the close request
        SavesSilently,          // asks; Save writes the document to `knownFile`
        AsksForName,            // asks; Save opens a save dialog with an edit field
        IgnoresClose,           // nothing happens at the close request
        HidesAndKeepsRunning,   // hides its window at the close request, keeps running
        DialogWithoutEditField, // asks; Save opens a dialog without edit field that never goes
    };
    // Buttons as the toolkit lists them (the accessibility order, not the screen's):
    // Gtk: prompt Cancel, Don't Save, Save (default); dialog Up Path, Down Path,
    //      Cancel, Save (default).
    // Qt: prompt Save (default), Cancel, Discard; dialog Back, Forward, Parent
    //      Directory, Save (default), Cancel.
    // NoDefault: the Gtk labels without a default button (Return does nothing).
    // NoButtons: no buttons at all; Return saves (prompt) or confirms (dialog).
    enum class Toolkit
    {
        Gtk,
        Qt,
        NoDefault,
        NoButtons
    };

    struct Application
    {
        QString title;
        Behaviour behaviour = Behaviour::AsksForName;
        Toolkit toolkit = Toolkit::Gtk;
        QString className = QStringLiteral("FakeEditor");
        // 0: a new process; otherwise the process of an earlier window (one
        // single-instance editor owning several windows).
        qint64 pid = 0;
        int unsavedDocuments = 1;
        // false: the next document is asked for right after one is done; true: the
        // window stays with its remaining documents until the next close request.
        bool closeRequestPerDocument = false;
        // After a confirmed save dialog, when the file exists: an alert "Replace?"
        // with Cancel and Replace (default); only Replace writes the file.
        bool asksBeforeReplacing = false;
        QString contents = QStringLiteral("unsaved text");
        QString knownFile; // SavesSilently
    };

    struct Operation
    {
        qint64 atMs;
        QString what; // "bringForward T", "requestClose T", "press L", "pressReturn L",
                      // "typeText X", "setText X", "terminate T", "saved PATH"
    };

    int saveDelayMs = 300;
    // Real milliseconds each press() takes (the clock does not move).
    int pressBlocksMs = 0;

    // Adds the application's window on top of the others; returns its handle.
    WindowHandle addApplication(const Application &app);
    qint64 pidOf(WindowHandle window) const;
    bool isRunning(qint64 pid) const;
    bool wasTerminated(qint64 pid) const;
    QList<Operation> operations() const;
    QStringList operationTexts() const; // the `what` of each operation
    QStringList savedFiles() const;     // in the order written
    qint64 elapsedMs() const;

    QList<WindowInfo> applicationWindows() override;
    qint64 windowProcessId(WindowHandle window) override;
    bool isWindowVisible(WindowHandle window) override;
    void bringForward(WindowHandle window) override;
    void requestClose(WindowHandle window) override;

    QList<UiElement> dialogWindows(qint64 pid) override;
    QList<UiElement> visibleChildren(const UiElement &window) override;
    QList<UiElement> buttons(const UiElement &window) override;
    QList<UiElement> editFields(const UiElement &window) override;
    bool isShowing(const UiElement &element) override;
    bool press(const UiElement &button) override;
    bool pressReturn(const UiElement &element) override;
    bool typeText(const UiElement &field, const QString &text) override;
    QString text(const UiElement &field) override;
    bool setText(const UiElement &field, const QString &text) override;

    std::unique_ptr<DesktopProcess> openProcess(qint64 pid) override;
    void pause(int ms) override;
    qint64 clockMs() override { return elapsedMs(); }

private:
    class Process;
    enum class Kind
    {
        Prompt,
        SaveDialog,
        BlindDialog,
        ReplaceAlert
    };
    struct Element
    {
        int id = 0;
        int window = 0; // the dialog that holds it; itself for a dialog
        UiElement::Role role = UiElement::Role::Other;
        QString label;
        bool isDefault = false;
        QString text;
        bool selected = false; // an edit field's prefilled text, replaced by typing
    };
    struct Dialog
    {
        int id = 0;
        Kind kind = Kind::Prompt;
        WindowHandle owner = 0;
        bool shown = true;
        bool confirming = false; // SaveDialog: confirmed, writing
        QList<int> children;     // element ids in tree order
        QString pendingPath;     // ReplaceAlert: the file to write
        int saveDialog = 0;      // ReplaceAlert: the dialog it answers for
    };
    struct Window
    {
        WindowHandle handle = 0;
        Application app;
        qint64 pid = 0;
        bool shown = true;
        bool gone = false;
        int documentsLeft = 0;
    };

    UiElement toUi(const Element &e) const;
    UiElement toUi(const Dialog &d) const;
    Window *windowOf(WindowHandle handle);
    Dialog *dialogOf(const UiElement &element);
    // The element, if its dialog is shown and it has the given role.
    Element *shownElement(const UiElement &element, std::optional<UiElement::Role> role = std::nullopt);
    void record(const QString &what);
    void advance(qint64 ms);
    void runDue();
    void at(qint64 delayMs, std::function<void()> action);
    int addElement(Dialog &dialog, UiElement::Role role, const QString &label, bool isDefault = false);
    void openDialog(WindowHandle owner, Kind kind);
    void closeDialog(int dialogId);
    void activate(Dialog &dialog, const Element &element);
    void confirmSave(Dialog &dialog);
    void documentDone(WindowHandle owner);
    void writeFile(WindowHandle owner, const QString &path);
    void closeWindow(Window &window);
    void endProcess(qint64 pid);

    mutable QMutex m_mutex;
    qint64 m_now = 0;
    int m_nextId = 1;
    qint64 m_nextPid = 1000;
    WindowHandle m_nextHandle = 0x400001;
    QList<Window> m_windows; // frontmost first
    std::map<int, Dialog> m_dialogs;
    std::map<int, Element> m_elements;
    QList<int> m_dialogOrder; // frontmost first
    QList<qint64> m_running;
    QList<qint64> m_terminated;
    QList<Operation> m_operations;
    QStringList m_saved;
    QList<std::pair<qint64, std::function<void()>>> m_due;
};

#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <memory>

// What the pre-shutdown pass needs from the desktop to close other applications and
// save their documents, without knowing the windowing system.
//
// Two levels:
// - top-level application windows (X11/EWMH on Linux), reached by handle;
// - the windows a process puts up in answer to the close request (its prompt, its
//   save dialog) and what is inside them, reached by process id through the
//   accessibility tree (AT-SPI 2 on Linux).
//
// Calls may come from any thread, but from one at a time: the pass hands the work
// over between the GUI thread and the saver thread. No call blocks without a bound.

// An X11 window id on Linux; opaque to callers. 0 is no window.
using WindowHandle = quint64;

struct WindowInfo
{
    WindowHandle handle = 0;
    QString title;
    QString className;
};

// One object of another process's user interface: a prompt or dialog window, a
// button, an edit field or anything else inside a window. Copied by value.
struct UiElement
{
    enum class Role
    {
        Window,
        Button,
        EditField,
        Other
    };

    // The backend's address of the object; the same for as long as the object
    // lives, and never that of another object, so lists taken at two moments can be
    // compared to find a window that is new. Empty: no element.
    QString id;
    Role role = Role::Other;
    // The window's title or the button's text, as shown to the user; may be empty.
    QString label;
    // A button that Return would press in its window (AT-SPI state IS_DEFAULT).
    bool isDefault = false;

    bool isNull() const { return id.isEmpty(); }
    bool operator==(const UiElement &other) const { return id == other.id; }
    bool operator!=(const UiElement &other) const { return id != other.id; }
};

// A process opened once for waiting and ending; on Linux a pidfd, so a reused
// process id is never signalled.
class DesktopProcess
{
public:
    enum class WaitResult
    {
        Exited,
        TimedOut,
        Failed
    };

    virtual ~DesktopProcess() = default;
    virtual qint64 pid() const = 0;
    virtual WaitResult waitForExit(int timeoutMs) = 0;
    // Asks the process to end (SIGTERM), gives it up to 2 s, then kills it
    // (SIGKILL). Returns once it has ended or the kill was sent.
    virtual void terminate() = 0;
};

class DesktopAutomation
{
public:
    virtual ~DesktopAutomation() = default;

    // --- Top-level application windows ---

    // Every ordinary application window, frontmost first: shown (minimised ones
    // too), offering minimise or maximise, with a non-empty title; never desktops,
    // docks, panels, file managers, dialogs, windows transient for another, or
    // windows of this process.
    virtual QList<WindowInfo> applicationWindows() = 0;
    // The process that owns the window; 0 when unknown or the window is gone.
    virtual qint64 windowProcessId(WindowHandle window) = 0;
    // Still shown (minimised counts as shown); false once hidden or destroyed.
    virtual bool isWindowVisible(WindowHandle window) = 0;
    virtual void bringForward(WindowHandle window) = 0;
    // Delivers the close request as if the user had clicked the window's close
    // button; does not wait for the application's answer.
    virtual void requestClose(WindowHandle window) = 0;

    // True when some window of applicationWindows() belongs to the process. A
    // process is ended only when this is false: one process (a single-instance
    // editor) can own several windows.
    bool hasApplicationWindow(qint64 pid);

    // --- What a process shows in answer to the close request ---

    // The process's shown windows other than its application windows: message
    // boxes and alerts, dialogs, file choosers; frontmost first: the active one,
    // then alerts (an overwrite question sits over its save dialog), then the
    // newest. Serves as both the prompt-window and the dialog-window filter. The
    // title may be empty (Qt 5 alerts have no accessible name).
    virtual QList<UiElement> dialogWindows(qint64 pid) = 0;
    // Every shown element inside the window, depth first in the tree's order.
    virtual QList<UiElement> visibleChildren(const UiElement &window) = 0;
    // The shown push buttons inside the window, in the tree's order. That order is
    // not the order on screen: GTK puts Cancel first, Qt lists tool buttons (a file
    // dialog's navigation buttons) before the dialog buttons. Choose by isDefault
    // and label, never by position.
    virtual QList<UiElement> buttons(const UiElement &window) = 0;
    // The shown editable single-line text fields inside the window, the one with
    // keyboard focus first.
    virtual QList<UiElement> editFields(const UiElement &window) = 0;
    // The element is still shown; false once it is hidden or gone.
    virtual bool isShowing(const UiElement &element) = 0;

    // Presses the button through its own action, as a click would.
    virtual bool press(const UiElement &button) = 0;
    // Gives the element keyboard focus and presses Return there, which presses the
    // window's default button. Needs an X11 display.
    virtual bool pressReturn(const UiElement &element) = 0;
    // Types the text into the field at its cursor, replacing a selection.
    virtual bool typeText(const UiElement &field, const QString &text) = 0;
    // The field's whole text; empty when it cannot be read.
    virtual QString text(const UiElement &field) = 0;
    // Replaces the field's whole text.
    virtual bool setText(const UiElement &field, const QString &text) = 0;

    // --- Processes and time ---

    // Null when the process cannot be opened (gone, or not ours to signal).
    virtual std::unique_ptr<DesktopProcess> openProcess(qint64 pid) = 0;
    // The pass's fixed pauses; a test desktop lets its own clock run instead.
    virtual void pause(int ms) = 0;
    // Milliseconds on the clock that pause() advances: a steady clock here, a test
    // desktop's own clock there.
    virtual qint64 clockMs();
};

// The desktop of this session: X11 and AT-SPI when the build has them and an X11
// display is reachable, else one that finds no application windows (for example a
// pure Wayland session), so a pass closes nothing.
std::unique_ptr<DesktopAutomation> createDesktopAutomation();

#include "platform/linuxdesktop.h"

#include "platform/pidfdprocess.h"

#include <QThread>

std::unique_ptr<LinuxDesktop> LinuxDesktop::create()
{
    std::unique_ptr<X11Windows> windows = X11Windows::connect();
    if (!windows)
        return nullptr;
    return std::unique_ptr<LinuxDesktop>(new LinuxDesktop(std::move(windows)));
}

LinuxDesktop::LinuxDesktop(std::unique_ptr<X11Windows> windows)
    : m_windows(std::move(windows)), m_atspi(m_windows->rootProperty(QStringLiteral("AT_SPI_BUS")))
{
}

QList<WindowInfo> LinuxDesktop::applicationWindows()
{
    return m_windows->applicationWindows();
}

qint64 LinuxDesktop::windowProcessId(WindowHandle window)
{
    return m_windows->windowProcessId(static_cast<quint32>(window));
}

bool LinuxDesktop::isWindowVisible(WindowHandle window)
{
    return m_windows->isWindowVisible(static_cast<quint32>(window));
}

void LinuxDesktop::bringForward(WindowHandle window)
{
    m_windows->activate(static_cast<quint32>(window));
}

void LinuxDesktop::requestClose(WindowHandle window)
{
    m_windows->requestClose(static_cast<quint32>(window));
}

QList<UiElement> LinuxDesktop::dialogWindows(qint64 pid)
{
    return m_atspi.dialogWindows(pid);
}

QList<UiElement> LinuxDesktop::visibleChildren(const UiElement &window)
{
    return m_atspi.visibleChildren(window);
}

QList<UiElement> LinuxDesktop::buttons(const UiElement &window)
{
    return m_atspi.buttons(window);
}

QList<UiElement> LinuxDesktop::editFields(const UiElement &window)
{
    return m_atspi.editFields(window);
}

bool LinuxDesktop::isShowing(const UiElement &element)
{
    return m_atspi.isShowing(element);
}

bool LinuxDesktop::press(const UiElement &button)
{
    return m_atspi.press(button);
}

bool LinuxDesktop::pressReturn(const UiElement &element)
{
    // The key goes to the X focus: first the element's window, then the element.
    const qint64 pid = m_atspi.processOf(element);
    if (pid <= 0)
        return false;
    m_windows->activateProcess(pid);
    m_atspi.grabFocus(element);
    return m_atspi.pressReturnKey();
}

bool LinuxDesktop::typeText(const UiElement &field, const QString &text)
{
    return m_atspi.typeText(field, text);
}

QString LinuxDesktop::text(const UiElement &field)
{
    return m_atspi.text(field);
}

bool LinuxDesktop::setText(const UiElement &field, const QString &text)
{
    return m_atspi.setText(field, text);
}

std::unique_ptr<DesktopProcess> LinuxDesktop::openProcess(qint64 pid)
{
    return PidfdProcess::open(pid);
}

void LinuxDesktop::pause(int ms)
{
    QThread::msleep(static_cast<unsigned long>(qMax(ms, 0)));
}

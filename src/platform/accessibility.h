#pragma once

#include <optional>

// The desktop's accessibility switch (org.a11y.Status IsEnabled on the session
// bus). The document saver needs it on: only then do applications started from now
// on expose their windows; those already running are not reached, as toolkits
// decide at start-up. The AT-SPI bus launcher keeps the switch in the user's
// settings (org.gnome.desktop.interface toolkit-accessibility), where it would
// outlast this application, so the previous value is put back on destruction.
class AccessibilitySwitch
{
public:
    AccessibilitySwitch() = default;
    ~AccessibilitySwitch();
    AccessibilitySwitch(const AccessibilitySwitch &) = delete;
    AccessibilitySwitch &operator=(const AccessibilitySwitch &) = delete;

    // False when there is no session bus or no accessibility service on it.
    bool switchOn();
    // Puts back the value switchOn() found, if it changed it.
    void restore();

private:
    std::optional<bool> m_previous;
};

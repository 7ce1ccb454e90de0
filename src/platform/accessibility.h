#pragma once

// Switches the desktop's accessibility bus on (org.a11y.Status IsEnabled on the
// session bus), so that applications started from now on expose their windows to
// the document saver. Applications already running are not reached: toolkits
// decide at start-up whether to join the accessibility bus. Returns false when
// there is no session bus or no accessibility service on it.
bool enableDesktopAccessibility();

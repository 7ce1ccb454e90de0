#pragma once

#include <QList>
#include <QUrl>

// Opens files with the desktop's default application. Tests switch capturing on
// and read the URLs instead of starting a viewer.
namespace DesktopViewer {
bool open(const QUrl &url);

void setCapturing(bool on);
QList<QUrl> &openedUrls();
} // namespace DesktopViewer

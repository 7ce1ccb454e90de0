#include "desktopviewer.h"

#include <QDesktopServices>

namespace DesktopViewer {
namespace {
bool capturing = false;
} // namespace

bool open(const QUrl &url)
{
    if (capturing) {
        openedUrls().append(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

void setCapturing(bool on)
{
    capturing = on;
}

QList<QUrl> &openedUrls()
{
    static QList<QUrl> list;
    return list;
}
} // namespace DesktopViewer

#include "filedialog.h"

#include <QFileDialog>
#include <QQueue>

namespace FileDialog {
namespace {
QQueue<QString> &nextNames()
{
    static QQueue<QString> queue;
    return queue;
}
} // namespace

QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    if (!nextNames().isEmpty())
        return nextNames().dequeue();
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    if (!nextNames().isEmpty())
        return nextNames().dequeue();
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir, QFileDialog::Options options)
{
    if (!nextNames().isEmpty())
        return nextNames().dequeue();
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

void setNextFileName(const QString &name)
{
    nextNames().enqueue(name);
}
} // namespace FileDialog

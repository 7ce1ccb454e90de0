#pragma once

#include <QFileDialog>
#include <QString>

// The file choosers of the application; tests queue the name the next chooser
// returns (an empty name is a cancelled chooser).
namespace FileDialog {
QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                             QFileDialog::Options options = QFileDialog::ShowDirsOnly);

void setNextFileName(const QString &name);
} // namespace FileDialog

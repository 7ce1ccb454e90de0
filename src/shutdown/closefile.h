#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// close_file.db, the record of the last pre-shutdown pass: tables time, closedfile
// and savedfile, whose first column is what older builds read, and poweroff. Every
// operation adds the connection "param", opens the file, runs its statements,
// closes and removes the connection; operations never overlap.
namespace CloseFile {
QString path();

// Drops and recreates the tables; errors (a missing table) are ignored.
void reset();
void setTime(const QString &time);
void addClosed(const QString &title);
// The window last added was given up on when the pass ran out of time: documents it
// still held were not saved.
void markLastClosedOutOfTime();
// A document saved under `file`; `unavailableDir` names the save directory it was
// meant for when that one could not be created.
void addSaved(const QString &title, const QString &file, const QString &unavailableDir = QString());
// Whether the power-off that followed the pass of `time` was accepted.
void setPowerOff(const QString &time, bool accepted, const QString &reason);

struct Record
{
    bool opened = false;                  // false: the file could not be opened, nothing was read
    QString time;                         // the last row of time
    QStringList closed;                   // closedfile in row order; empty also when the table is missing
    QStringList outOfTime;                // the titles of closed among them that ran out of time
    QStringList saved;                    // savedfile in row order
    QStringList savedFiles;               // the file of each row of saved; empty when an older build wrote it
    QStringList savedUnavailableDirs;     // the directory each was meant for, when it could not be created
    std::optional<bool> powerOffAccepted; // none: no outcome recorded for this pass
    QString powerOffReason;
};
Record read();
} // namespace CloseFile

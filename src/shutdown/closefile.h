#pragma once

#include <QString>
#include <QStringList>

// close_file.db, the record of the last pre-shutdown pass: tables time, closedfile
// and savedfile, one text column each. Every operation adds the connection
// "param", opens the file, runs its statements, closes and removes the
// connection; operations never overlap.
namespace CloseFile {
QString path();

// Drops and recreates the three tables; errors (a missing table) are ignored.
void reset();
void setTime(const QString &time);
void addClosed(const QString &title);
void addSaved(const QString &title);

struct Record
{
    bool opened = false; // false: the file could not be opened, nothing was read
    QString time;        // the last row of time
    QStringList closed;  // closedfile in row order; empty also when the table is missing
    QStringList saved;   // savedfile in row order
};
Record read();
} // namespace CloseFile

#pragma once

#include <QString>

class LogTableModel;
class QIODevice;

// The CSV export of the dialog's table: the header as given, then one line per row with its three
// cells as they are, each followed by a comma. False when the log could not be read to its end or the
// device refused the text.
bool writeLogCsv(QIODevice &out, const QString &header, const LogTableModel &model, QString *error = nullptr);

// The printed form of the table. Cell texts come from the file and may hold anything, so they are
// escaped; the middle heading is the fixed text IP.
QString logHtml(const QString &dateHeader, const QString &eventHeader, const LogTableModel &model);

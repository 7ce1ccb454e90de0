#pragma once

#include "logstore.h"

#include <QString>
#include <QTextStream>

class QIODevice;

// The CSV export of the log, written a chunk of rows at a time so that the window goes on between
// chunks: the header as given, then one line per row with its three cells as they are, each followed
// by a comma.
class LogCsvExport
{
public:
    static constexpr int chunkRows = 2000;

    // `count` rows from row `first` of the display order.
    LogCsvExport(QIODevice &out, const QString &header, int first, int count);

    // Writes the next chunk; false once every row is written or something failed.
    bool step();
    int done() const { return m_rows.done(); }
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    QIODevice &m_out;
    QTextStream m_stream;
    LogRowStream m_rows;
    QString m_error;
};

#include "logexport.h"

#include <QIODevice>

LogCsvExport::LogCsvExport(QIODevice &out, const QString &header, int first, int count)
    : m_out(out), m_stream(&out), m_rows(LogDatabase::exportConnection, first, count)
{
    m_stream << header;
}

bool LogCsvExport::step()
{
    if (failed())
        return false;
    const QChar comma = QLatin1Char(',');
    if (!m_rows.read(chunkRows, [this, comma](const LogRow &row) {
            m_stream << row.time << comma << row.ip << comma << row.event << comma << QLatin1Char('\n');
        })) {
        m_error = m_rows.lastError().isEmpty() ? QStringLiteral("log.db cannot be read") : m_rows.lastError();
        return false;
    }
    if (m_rows.atEnd())
        m_stream.flush();
    if (m_stream.status() != QTextStream::Ok) {
        m_error = m_out.errorString();
        return false;
    }
    return !m_rows.atEnd();
}

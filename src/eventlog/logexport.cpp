#include "logexport.h"

#include "logtablemodel.h"

#include <QIODevice>
#include <QTextStream>

bool writeLogCsv(QIODevice &out, const QString &header, const LogTableModel &model, QString *error)
{
    QTextStream stream(&out);
    stream << header;
    const QChar comma = QLatin1Char(',');
    const bool read = model.forEachRow(
        [&](const LogRow &row) {
            stream << row.time << comma << row.ip << comma << row.event << comma << QLatin1Char('\n');
        },
        error);
    stream.flush();
    if (read && stream.status() != QTextStream::Ok && error)
        *error = out.errorString();
    return read && stream.status() == QTextStream::Ok;
}

QString logHtml(const QString &dateHeader, const QString &eventHeader, const LogTableModel &model)
{
    QString html = QStringLiteral("<table width=\"100%\" style=\"font-weight:bolder; border:0px\">");
    html += QStringLiteral("<tr><td width=\"30%\">") + dateHeader.toHtmlEscaped() +
            QStringLiteral("</td><td width=\"30%\">IP</td><td>") + eventHeader.toHtmlEscaped() +
            QStringLiteral("</td></tr>");
    model.forEachRow([&html](const LogRow &row) {
        html += QStringLiteral("<tr>");
        for (const QString *cell : {&row.time, &row.ip, &row.event})
            html += QStringLiteral("<td>") + cell->toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    });
    html += QStringLiteral("</table>");
    return html;
}

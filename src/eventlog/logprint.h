#pragma once

#include "logstore.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QList>
#include <QPainter>

class QPagedPaintDevice;

// The printout of the log, painted one page at a time, so that a log of any size prints with little
// memory and the window goes on between pages. Each page holds the headings (the middle one the fixed
// text IP) and as many rows as fit, in three columns of 30, 30 and 40 per cent, in bold, within
// margins of 2 cm, with the page number at its foot. Cell texts are drawn as they are stored.
class LogPrint
{
public:
    // `count` rows from row `first` of the display order.
    LogPrint(QPagedPaintDevice &device, const QString &dateHeader, const QString &eventHeader, int first, int count);

    // Paints the next page; false once every row is printed or something failed.
    bool step();
    int done() const { return m_rows.done() - int(m_pending.size()) + m_next; }
    int pages() const { return m_pages; }
    bool failed() const { return m_failed; }
    // Ends the printout here.
    void end();

private:
    bool fitsOneLine(const QString &text, int column);
    qreal rowHeight(const QStringList &cells);
    void paintRow(const QStringList &cells, qreal y, qreal height);
    void paintPageNumber();

    QPagedPaintDevice &m_device;
    QPainter m_painter;
    LogRowStream m_rows;
    QList<LogRow> m_pending; // read, and printed up to m_next
    int m_next = 0;
    QStringList m_headings;
    QFont m_font;
    QFont m_bold;
    QFontMetricsF m_metrics; // of the bold font on the device
    QRectF m_body;
    qreal m_column[3] = {};
    qreal m_columnWidth[3] = {};
    qreal m_lineHeight = 0;
    qreal m_ascent = 0;
    qreal m_spacing = 0;
    qreal m_marginX = 0;
    qreal m_marginY = 0;
    QHash<QString, qreal> m_widths;
    int m_pages = 0;
    bool m_failed = false;
};

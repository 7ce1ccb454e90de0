#include "logprint.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPagedPaintDevice>

namespace {
// Rows read ahead of the page being painted.
constexpr int readAhead = 256;
// Texts whose width is remembered; most IP and event texts repeat from row to row.
constexpr int rememberedWidths = 4096;
constexpr Qt::Alignment cellFlags = Qt::AlignLeft | Qt::AlignTop;

QFont bold(QFont font)
{
    font.setBold(true);
    return font;
}
} // namespace

LogPrint::LogPrint(QPagedPaintDevice &device, const QString &dateHeader, const QString &eventHeader, int first,
                   int count)
    : m_device(device),
      m_rows(LogDatabase::printConnection, first, count), m_headings{dateHeader, QStringLiteral("IP"), eventHeader},
      m_font(QGuiApplication::font()), m_bold(bold(m_font)), m_metrics(m_bold, &device)
{
    if (!m_painter.begin(&device)) {
        m_failed = true;
        return;
    }
    m_painter.setFont(m_bold);
    m_lineHeight = m_metrics.height();
    m_ascent = m_metrics.ascent();
    // The 2 cm margins and the 2-pixel cell spacing of the text document this printout replaces.
    m_marginX = 2 / 2.54 * device.logicalDpiX();
    m_marginY = 2 / 2.54 * device.logicalDpiY();
    m_spacing = 2.0 * device.logicalDpiY() / 96;
    m_body = QRectF(m_marginX, m_marginY, device.width() - 2 * m_marginX, device.height() - 2 * m_marginY);
    const qreal share[3] = {0.3, 0.3, 0.4};
    qreal x = m_body.left();
    for (int c = 0; c < 3; ++c) {
        m_column[c] = x;
        m_columnWidth[c] = m_body.width() * share[c] - (c < 2 ? m_spacing : 0);
        x += m_body.width() * share[c];
    }
}

bool LogPrint::fitsOneLine(const QString &text, int column)
{
    if (text.contains(QLatin1Char('\n')))
        return false;
    auto known = m_widths.constFind(text);
    if (known == m_widths.constEnd()) {
        if (m_widths.size() >= rememberedWidths)
            m_widths.clear();
        known = m_widths.insert(text, m_metrics.horizontalAdvance(text));
    }
    return *known <= m_columnWidth[column];
}

qreal LogPrint::rowHeight(const QStringList &cells)
{
    qreal height = m_lineHeight;
    for (int c = 0; c < 3; ++c) {
        if (!fitsOneLine(cells[c], c)) {
            const QRectF room(0, 0, m_columnWidth[c], 1e9);
            height = qMax(height, m_metrics.boundingRect(room, cellFlags | Qt::TextWrapAnywhere, cells[c]).height());
        }
    }
    return height + m_spacing;
}

void LogPrint::paintRow(const QStringList &cells, qreal y, qreal height)
{
    // Only a row taller than a whole page reaches past the body; it is cut at its foot.
    const bool tooTall = y + height > m_body.bottom();
    if (tooTall)
        m_painter.setClipRect(m_body);
    for (int c = 0; c < 3; ++c) {
        if (fitsOneLine(cells[c], c))
            m_painter.drawText(QPointF(m_column[c], y + m_ascent), cells[c]);
        else
            m_painter.drawText(QRectF(m_column[c], y, m_columnWidth[c], height), cellFlags | Qt::TextWrapAnywhere,
                               cells[c]);
    }
    if (tooTall)
        m_painter.setClipping(false);
}

void LogPrint::paintPageNumber()
{
    const QString number = QString::number(m_pages);
    m_painter.setFont(m_font);
    const QFontMetricsF metrics(m_font, &m_device);
    m_painter.drawText(QPointF(m_device.width() - m_marginX - metrics.horizontalAdvance(number),
                               m_device.height() - m_marginY + metrics.ascent() + 5.0 * m_device.logicalDpiY() / 72),
                       number);
    m_painter.setFont(m_bold);
}

bool LogPrint::step()
{
    if (m_failed || !m_painter.isActive())
        return false;
    if (m_pages > 0 && !m_device.newPage()) {
        m_failed = true;
        end();
        return false;
    }
    ++m_pages;
    qreal y = m_body.top();
    const qreal headingHeight = rowHeight(m_headings);
    paintRow(m_headings, y, headingHeight);
    y += headingHeight;
    for (int onPage = 0;; ++onPage) {
        if (m_next == m_pending.size()) {
            m_pending.clear();
            m_next = 0;
            if (m_rows.atEnd())
                break;
            if (!m_rows.read(readAhead, [this](const LogRow &row) { m_pending.append(row); })) {
                m_failed = true;
                break;
            }
            if (m_pending.isEmpty())
                break;
        }
        const LogRow &row = m_pending.at(m_next);
        const QStringList cells{row.time, row.ip, row.event};
        const qreal height = rowHeight(cells);
        if (onPage > 0 && y + height > m_body.bottom())
            break;
        paintRow(cells, y, height);
        y += height;
        ++m_next;
    }
    paintPageNumber();
    if (m_failed || (m_next == m_pending.size() && m_rows.atEnd())) {
        end();
        return false;
    }
    return true;
}

void LogPrint::end()
{
    if (m_painter.isActive())
        m_painter.end();
}

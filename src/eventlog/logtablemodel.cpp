#include "logtablemodel.h"

#include <algorithm>

namespace {
constexpr int columns = 3;

bool sameRow(const LogRow &a, const LogRow &b)
{
    return a.rowid == b.rowid && a == b;
}
} // namespace

LogTableModel::LogTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int LogTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int LogTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant LogTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_count || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const LogRow *shown = row(index.row());
    if (!shown)
        return {};
    switch (index.column()) {
    case 0:
        return shown->time;
    case 1:
        return shown->ip;
    case 2:
        return shown->event;
    default:
        return {};
    }
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < columns &&
        (role == Qt::DisplayRole || role == Qt::EditRole))
        return m_headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool LogTableModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

const LogRow *LogTableModel::row(int r) const
{
    const Page *found = page(r);
    if (!found) {
        Page read;
        read.first = r / pageSize * pageSize;
        read.span = qMin(pageSize, m_count - read.first);
        // A log that cannot be read gives an empty page, which is not asked for again until the
        // next reading of the log.
        read.rows =
            LogDatabase(LogDatabase::viewConnection).readPage(read.first, read.span, m_count).value_or(QList<LogRow>());
        remember(std::move(read));
        found = page(r);
    }
    const int at = r - found->first;
    return at < found->rows.size() ? &found->rows.at(at) : nullptr;
}

const LogTableModel::Page *LogTableModel::page(int r) const
{
    for (Page &p : m_pages) {
        if (r >= p.first && r < p.first + p.span) {
            p.used = ++m_uses;
            return &p;
        }
    }
    return nullptr;
}

void LogTableModel::remember(Page page) const
{
    if (m_pages.size() >= cachedPages) {
        auto oldest = std::min_element(m_pages.begin(), m_pages.end(),
                                       [](const Page &a, const Page &b) { return a.used < b.used; });
        m_pages.erase(oldest);
    }
    page.used = ++m_uses;
    m_pages.append(std::move(page));
}

void LogTableModel::replaceAll(int count, qint64 lastRowid, const QList<LogRow> &first)
{
    beginResetModel();
    m_count = count;
    m_lastRowid = lastRowid;
    m_pages.clear();
    m_top = first.value(0);
    if (!first.isEmpty())
        remember({0, int(first.size()), first});
    endResetModel();
}

bool LogTableModel::reload()
{
    std::optional<int> count;
    std::optional<qint64> lastRowid;
    std::optional<QList<LogRow>> first;
    {
        // Closed before the model changes: the view reads rows through the same connection name.
        LogDatabase db(LogDatabase::viewConnection);
        count = db.rowCount();
        lastRowid = db.lastRowid();
        if (count && lastRowid)
            first = db.readPage(0, pageSize, *count);
    }
    if (!first)
        return false;
    replaceAll(*count, *lastRowid, *first);
    return true;
}

int LogTableModel::refresh()
{
    int added = 0;
    std::optional<QList<LogRow>> top;
    bool onlyAtTop = false;
    std::optional<int> count;
    std::optional<qint64> lastRowid;
    std::optional<QList<LogRow>> first;
    {
        LogDatabase db(LogDatabase::viewConnection);
        // Rows are only appended: the new ones are those after the last rowid known. Counting them
        // costs as many steps as there are, where counting the whole log would cost its size.
        const std::optional<int> after = db.rowsAfter(m_lastRowid);
        if (!after)
            return 0;
        added = *after;
        const int total = m_count + added;
        // The new rows and the row that was the newest before, which must follow them.
        const int wanted = qMin(added + 1, total);
        if (added <= pageSize)
            top = db.readPage(0, wanted, total);
        onlyAtTop = top && top->size() == wanted && (m_count == 0 || sameRow(top->at(added), m_top));
        if (!onlyAtTop) {
            // New rows came elsewhere than at the top (a clock set back), or the log was replaced:
            // nothing read before can be trusted.
            count = db.rowCount();
            lastRowid = db.lastRowid();
            if (count && lastRowid)
                first = db.readPage(0, pageSize, *count);
        }
    }
    if (!onlyAtTop) {
        if (first)
            replaceAll(*count, *lastRowid, *first);
        return 0;
    }
    if (added == 0)
        return 0;
    beginInsertRows(QModelIndex(), 0, added - 1);
    for (Page &p : m_pages)
        p.first += added;
    m_count += added;
    for (int i = 0; i < added; ++i)
        m_lastRowid = qMax(m_lastRowid, top->at(i).rowid);
    m_top = top->first();
    remember({0, int(top->size()), *top});
    endInsertRows();
    return added;
}

void LogTableModel::clear()
{
    replaceAll(0, 0, {});
}

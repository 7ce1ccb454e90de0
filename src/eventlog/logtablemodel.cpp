#include "logtablemodel.h"

namespace {
constexpr int columns = 3;
} // namespace

LogTableModel::LogTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int LogTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LogTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant LogTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const LogRow &row = m_rows.at(index.row());
    switch (index.column()) {
    case 0:
        return row.time;
    case 1:
        return row.ip;
    case 2:
        return row.event;
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

bool LogTableModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_complete;
}

void LogTableModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_complete)
        return;
    QList<LogRow> page;
    LogPosition next = m_next;
    bool read = false;
    {
        LogDatabase db(LogDatabase::viewConnection);
        read = db.readRows(next, pageSize, [&page](const LogRow &row) { page.append(row); });
    }
    // A log that stopped being readable ends the table here instead of being asked again and again.
    m_complete = !read || page.size() < pageSize;
    if (!read || page.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows.append(page);
    m_next = next;
    endInsertRows();
}

bool LogTableModel::reload()
{
    const int wanted = qMax(pageSize, int(m_rows.size()));
    QList<LogRow> rows;
    LogPosition next;
    {
        LogDatabase db(LogDatabase::viewConnection);
        if (!db.readRows(next, wanted, [&rows](const LogRow &row) { rows.append(row); }))
            return false;
    }
    beginResetModel();
    m_rows.swap(rows);
    m_next = next;
    m_complete = m_rows.size() < wanted;
    endResetModel();
    return true;
}

void LogTableModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_next = LogPosition();
    m_complete = true;
    endResetModel();
}

bool LogTableModel::forEachRow(const std::function<void(const LogRow &)> &sink, QString *error) const
{
    for (const LogRow &row : m_rows)
        sink(row);
    if (m_complete)
        return true;
    LogDatabase db(LogDatabase::viewConnection);
    LogPosition next = m_next;
    if (db.readRows(next, -1, sink))
        return true;
    if (error)
        *error = db.lastError();
    return false;
}

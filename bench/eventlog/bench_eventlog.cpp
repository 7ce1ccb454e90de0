// Figures for log.db at a size users reach after years of running: flush plus reload of the recent
// table, opening the dialog, and the full CSV export, on a log of one million rows made here.

#include "config/datadir.h"
#include "eventlog/logdialog.h"
#include "eventlog/logstore.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int rowCount = 1000000;

double ms(qint64 ns)
{
    return ns / 1e6;
}

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// The table as an older build leaves it: rows only, no index.
void makeLog(const QString &path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_fill"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("create table log(time varchar,ip varchar,id varchar)"));
        db.transaction();
        q.prepare(QStringLiteral("insert into log values(?,?,?)"));
        // UTC: local-time conversion would cost more than the insert itself.
        const QDateTime start(QDate(2015, 1, 1), QTime(0, 0), Qt::UTC);
        for (int i = 0; i < rowCount; ++i) {
            // About three events a minute over the years, in order, as a real log grows.
            q.bindValue(0, start.addSecs(qint64(i) * 20 + i % 7).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            q.bindValue(1, QStringLiteral("127.0.0.1"));
            q.bindValue(2, i % 11);
            q.exec();
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_fill"));
}

// What the main window does with the rows read back.
void fillRecent(QStandardItemModel &model, const QList<LogRow> &rows)
{
    model.clear();
    model.setColumnCount(3);
    for (const LogRow &row : rows)
        model.appendRow({new QStandardItem(row.time), new QStandardItem(row.ip), new QStandardItem(row.event)});
}

qint64 median(QList<qint64> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    setDataDir(dir.path());
    buildEventTexts();
    const QString path = logDatabasePath();

    QElapsedTimer t;
    t.start();
    makeLog(path);
    std::printf("log of %d rows made in %.0f ms, %.1f MB\n", rowCount, ms(t.nsecsElapsed()), QFile(path).size() / 1e6);

    // The first open by this build adds the time index to an older file.
    t.restart();
    std::optional<QList<LogRow>> newest = LogDatabase(LogDatabase::viewConnection).newestRows(recentEventCount);
    std::printf("first open (index added to the older file) + five-row load: %.0f ms, %.1f MB file\n",
                ms(t.nsecsElapsed()), QFile(path).size() / 1e6);

    QStandardItemModel recent;
    QList<qint64> flushes;
    for (int i = 0; i < 201; ++i) {
        queueEvents({{timeText(), i % 11}});
        t.restart();
        const std::optional<FlushResult> result = writePendingEvents(QStringLiteral("127.0.0.1"));
        fillRecent(recent, result->newest.value_or(QList<LogRow>()));
        flushes.append(t.nsecsElapsed());
        if (!result->written)
            std::printf("flush failed\n");
    }
    std::sort(flushes.begin(), flushes.end());
    std::printf("flush of one event + five-row reload: median %.2f ms, 90%% %.2f ms, max %.2f ms (%lld runs)\n",
                ms(median(flushes)), ms(flushes.at(flushes.size() * 9 / 10)), ms(flushes.last()),
                static_cast<long long>(flushes.size()));

    const long rssBefore = rssKiB();
    t.restart();
    LogDialog dialog;
    dialog.show();
    QCoreApplication::processEvents();
    const qint64 firstOpen = t.nsecsElapsed();
    const long rssAfter = rssKiB();
    QList<qint64> views;
    for (int i = 0; i < 11; ++i) {
        t.restart();
        dialog.initView();
        QCoreApplication::processEvents();
        views.append(t.nsecsElapsed());
    }
    auto *table = dialog.findChild<QTableView *>(QStringLiteral("tableView"));
    std::printf("dialog construction + initView + first paint: %.1f ms; initView alone: median %.1f ms; "
                "memory growth %.1f MB (%d rows loaded)\n",
                ms(firstOpen), ms(median(views)), (rssAfter - rssBefore) / 1024.0, table->model()->rowCount());

    const QString csv = dir.filePath(QStringLiteral("export.csv"));
    FileDialog::setNextFileName(csv);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    const long rssBeforeExport = rssKiB();
    t.restart();
    dialog.findChild<QPushButton *>(QStringLiteral("bt_save"))->click();
    const qint64 exportTime = t.nsecsElapsed();
    std::printf("CSV export of all rows: %.0f ms, %.1f MB written, memory growth %.1f MB\n", ms(exportTime),
                QFile(csv).size() / 1e6, (rssKiB() - rssBeforeExport) / 1024.0);

    // For comparison: the five-row query without the index, as the table alone serves it.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_plain"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("drop index log_time"));
        t.restart();
        q.exec(QStringLiteral("select * from log order by time desc limit 0,5"));
        while (q.next()) {
        }
        std::printf("for comparison, the same five rows without the index: %.0f ms\n", ms(t.nsecsElapsed()));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_plain"));
    return 0;
}

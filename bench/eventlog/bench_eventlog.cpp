// Figures for the event log at a size users reach after years of running: a log of one million rows
// made here, the flush, and the real event log dialog: opening, scrolling, following new events,
// export, print and clean. Run it under Xvfb (xvfb-run) to paint through X; without a display it
// falls back to the offscreen platform.

#include "config/datadir.h"
#include "eventlog/logdialog.h"
#include "eventlog/logstore.h"
#include "eventlog/printrangedialog.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/printdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int rowCount = 1000000;

double ms(qint64 ns)
{
    return ns / 1e6;
}

double mb(long kib)
{
    return kib / 1024.0;
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

qint64 median(QList<qint64> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

qint64 maximum(const QList<qint64> &v)
{
    return *std::max_element(v.begin(), v.end());
}

// Counts the paints of the table, so that a figure ends when the rows are on the screen.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *w) : m_widget(w) { w->installEventFilter(this); }
    // Processes events until the widget has painted once more.
    void waitForPaint()
    {
        const int before = m_paints;
        QElapsedTimer guard;
        guard.start();
        while (m_paints == before && guard.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // The paint runs right after the filter saw its event.
        QCoreApplication::processEvents();
    }

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (o == m_widget && e->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    QWidget *m_widget;
    int m_paints = 0;
};

// Stands in for the main window's one-second tick while a job runs: queues one event and flushes it
// into log.db and the open dialog, as the tick does, and records how late each tick came. A fast
// probe records the longest time the event loop was away.
class TickWatch : public QObject
{
public:
    explicit TickWatch(LogDialog &dialog) : m_dialog(dialog)
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1000);
        connect(&m_tick, &QTimer::timeout, this, [this] {
            m_lateness = qMax(m_lateness, m_sinceTick.restart() - 1000);
            ++m_ticks;
            queueEvents({{timeText(), m_ticks % 11}});
            writePendingEvents(QStringLiteral("127.0.0.1"));
            m_dialog.insertLog();
        });
        m_probe.setTimerType(Qt::PreciseTimer);
        m_probe.setInterval(10);
        connect(&m_probe, &QTimer::timeout, this, [this] {
            m_gap = qMax(m_gap, m_sinceProbe.restart());
            m_peakRss = qMax(m_peakRss, rssKiB());
        });
    }
    void start()
    {
        m_ticks = 0;
        m_lateness = 0;
        m_gap = 0;
        m_peakRss = rssKiB();
        m_sinceTick.start();
        m_sinceProbe.start();
        m_tick.start();
        m_probe.start();
    }
    void stop()
    {
        m_tick.stop();
        m_probe.stop();
        m_gap = qMax(m_gap, m_sinceProbe.elapsed());
    }
    QString report() const
    {
        return QStringLiteral("%1 ticks, latest tick %2 ms late, event loop away at most %3 ms")
            .arg(m_ticks)
            .arg(qMax<qint64>(0, m_lateness))
            .arg(m_gap);
    }
    long peakRss() const { return m_peakRss; }

private:
    LogDialog &m_dialog;
    QTimer m_tick;
    QTimer m_probe;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_sinceProbe;
    int m_ticks = 0;
    qint64 m_lateness = 0;
    qint64 m_gap = 0;
    long m_peakRss = 0;
};

QString oldestTime()
{
    return QDateTime(QDate(2015, 1, 1), QTime(0, 0), Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

int pdfPages(const QString &pdf)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    if (!info.waitForFinished(60000))
        return -1;
    for (const QByteArray &line : info.readAllStandardOutput().split('\n')) {
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
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
    LogDatabase(LogDatabase::viewConnection).newestRows(recentEventCount);
    std::printf("first open (index added to the older file) + five-row load: %.0f ms, %.1f MB file\n",
                ms(t.nsecsElapsed()), QFile(path).size() / 1e6);

    QList<qint64> flushes;
    for (int i = 0; i < 101; ++i) {
        queueEvents({{timeText(), i % 11}});
        t.restart();
        writePendingEvents(QStringLiteral("127.0.0.1"));
        flushes.append(t.nsecsElapsed());
    }
    std::printf("flush of one event + five-row reload: median %.2f ms, max %.2f ms\n", ms(median(flushes)),
                ms(maximum(flushes)));

    LogDialog dialog;
    dialog.resize(546, 377);
    auto *table = dialog.findChild<QTableView *>(QStringLiteral("tableView"));
    PaintWatch painted(table->viewport());
    QScrollBar *bar = table->verticalScrollBar();
    const auto lastShownTime = [table] {
        const int last = table->rowAt(table->viewport()->height() - 1);
        return table->model()->index(last < 0 ? table->model()->rowCount() - 1 : last, 0).data().toString();
    };

    // Open: a fresh reading of the log and the first paint of its newest rows.
    const long rssBeforeOpen = rssKiB();
    QList<qint64> opens;
    for (int i = 0; i < 7; ++i) {
        dialog.hide();
        QCoreApplication::processEvents();
        t.restart();
        dialog.initView();
        dialog.show();
        painted.waitForPaint();
        opens.append(t.nsecsElapsed());
    }
    const long rssOpen = rssKiB();
    std::printf("open to first rows shown: median %.1f ms, max %.1f ms (target < 150 ms); %d rows in the "
                "scroll range, scroll bar 0..%d; memory of the open dialog %.1f MB\n",
                ms(median(opens)), ms(maximum(opens)), table->model()->rowCount(), bar->maximum(),
                mb(rssOpen - rssBeforeOpen));

    // Jump to the oldest row: Ctrl+End from the top.
    QList<qint64> jumps;
    bool oldestShown = true;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(table, Qt::Key_Home, Qt::ControlModifier);
        painted.waitForPaint();
        t.restart();
        QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
        painted.waitForPaint();
        jumps.append(t.nsecsElapsed());
        oldestShown = oldestShown && lastShownTime() == oldestTime();
    }
    std::printf("jump to the oldest row (Ctrl+End): median %.1f ms, max %.1f ms (target < 50 ms); oldest row "
                "shown: %s\n",
                ms(median(jumps)), ms(maximum(jumps)), oldestShown ? "yes" : "NO");

    // Drag the scroll bar's slider to places around the middle never shown before.
    QList<qint64> drags;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(table, Qt::Key_Home, Qt::ControlModifier);
        painted.waitForPaint();
        t.restart();
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->maximum() / 2 + (i - 3) * 7919);
        bar->setSliderDown(false);
        painted.waitForPaint();
        drags.append(t.nsecsElapsed());
    }
    std::printf("drag to the middle: median %.1f ms, max %.1f ms (target < 50 ms)\n", ms(median(drags)),
                ms(maximum(drags)));

    // New events while the view is at the end of the scroll range: what the tick does, then the paint.
    QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
    painted.waitForPaint();
    QList<qint64> inserts;
    QList<qint64> flushAndInserts;
    const int rowsBefore = table->model()->rowCount();
    const long rssBeforeEvents = rssKiB();
    for (int i = 0; i < 21; ++i) {
        queueEvents({{timeText(), i % 11}});
        t.restart();
        writePendingEvents(QStringLiteral("127.0.0.1"));
        QElapsedTimer insert;
        insert.start();
        dialog.insertLog();
        painted.waitForPaint();
        inserts.append(insert.nsecsElapsed());
        flushAndInserts.append(t.nsecsElapsed());
    }
    std::printf("one new event while open at the end of the scroll range: insert + paint median %.2f ms, max "
                "%.2f ms (target < 10 ms); with the flush median %.2f ms; memory growth after %d events %.1f "
                "MB; rows %d -> %d, oldest row still shown: %s\n",
                ms(median(inserts)), ms(maximum(inserts)), ms(median(flushAndInserts)), int(inserts.size()),
                mb(rssKiB() - rssBeforeEvents), rowsBefore, table->model()->rowCount(),
                lastShownTime() == oldestTime() ? "yes" : "NO");

    // Visit the whole range: the slider across it in steps, each painted.
    const long rssBeforeVisit = rssKiB();
    t.restart();
    const int steps = 2000;
    for (int i = 0; i <= steps; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * i / steps));
        painted.waitForPaint();
    }
    std::printf("whole range visited in %d steps in %.0f ms: memory growth %.1f MB (target < 30 MB), %.1f MB "
                "over the dialog before opening\n",
                steps, ms(t.nsecsElapsed()), mb(rssKiB() - rssBeforeVisit), mb(rssKiB() - rssBeforeOpen));

    TickWatch ticks(dialog);

    // Export of every row, with the tick adding rows meanwhile.
    const QString csv = dir.filePath(QStringLiteral("export.csv"));
    FileDialog::setNextFileName(csv);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    const int exported = table->model()->rowCount();
    const long rssBeforeExport = rssKiB();
    ticks.start();
    t.restart();
    dialog.findChild<QPushButton *>(QStringLiteral("bt_save"))->click();
    const qint64 exportTime = t.nsecsElapsed();
    ticks.stop();
    qint64 lines = 0;
    {
        QFile f(csv);
        f.open(QIODevice::ReadOnly);
        while (!f.atEnd())
            lines += f.readLine().endsWith('\n');
    }
    std::printf("export of all %d rows: %.0f ms (target < 2.5 s), %.1f MB written, %lld lines, peak memory "
                "growth %.1f MB; %s\n",
                exported, ms(exportTime), QFile(csv).size() / 1e6, lines, mb(ticks.peakRss() - rssBeforeExport),
                qPrintable(ticks.report()));

    // Print of every row to a PDF file through the print seam.
    const QString pdf = dir.filePath(QStringLiteral("log.pdf"));
    PrintRangeDialog::setNextAnswer([](PrintRangeDialog &question) {
        question.findChild<QRadioButton *>(QStringLiteral("rb_all"))->setChecked(true);
        return true;
    });
    PrintDialog::setNextAnswer([pdf](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    const int printed = table->model()->rowCount();
    const long rssBeforePrint = rssKiB();
    ticks.start();
    t.restart();
    dialog.findChild<QPushButton *>(QStringLiteral("bt_print"))->click();
    const qint64 printTime = t.nsecsElapsed();
    ticks.stop();
    std::printf("print of all %d rows to a PDF: %.1f s, %d pages, %.1f MB; peak memory growth %.1f MB (target "
                "< 150 MB); %s\n",
                printed, printTime / 1e9, pdfPages(pdf), QFile(pdf).size() / 1e6, mb(ticks.peakRss() - rssBeforePrint),
                qPrintable(ticks.report()));
    QFile::remove(pdf);

    // Clean: one transaction on the whole log.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    const int cleaned = table->model()->rowCount();
    ticks.start();
    t.restart();
    dialog.findChild<QPushButton *>(QStringLiteral("bt_clean"))->click();
    const qint64 cleanTime = t.nsecsElapsed();
    ticks.stop();
    std::printf("clean of %d rows: %.0f ms, %d rows left; %s\n", cleaned, ms(cleanTime), table->model()->rowCount(),
                qPrintable(ticks.report()));
    return 0;
}

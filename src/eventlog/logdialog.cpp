#include "logdialog.h"

#include "logexport.h"
#include "logprint.h"
#include "logstore.h"
#include "logtablemodel.h"
#include "printrangedialog.h"
#include "ui_logdialog.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/printdialog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QPrinter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QThread>

bool logDialogOpen = false;

namespace {
// A job that ends sooner never shows its progress.
constexpr int progressDelayMs = 500;
constexpr int progressUpdateMs = 100;
} // namespace

LogDialog::LogDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::LogDialog>()), model(new LogTableModel(this))
{
    ui->setupUi(this);
    initView();
}

LogDialog::~LogDialog() = default;

void LogDialog::initView()
{
    QTableView *table = ui->tableView;
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setFixedHeight(20);
    header->setStyleSheet(
        QStringLiteral("QHeaderView::section {background-color:rgb(70,163,255);color:rgb(255,255,255);"
                       "padding-left: 1px;border: 1px solid #6c6c6c;font: 12pt;};"));
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    model->clear();
    setHeaders();
    table->setModel(model);
    model->reload();
    table->scrollToTop();
    table->setColumnWidth(0, 150);
}

void LogDialog::setHeaders()
{
    model->setHeaderData(0, Qt::Horizontal, tr("Date/Time"), Qt::EditRole);
    model->setHeaderData(1, Qt::Horizontal, tr("ip"), Qt::EditRole);
    model->setHeaderData(2, Qt::Horizontal, tr("Event"), Qt::EditRole);
}

void LogDialog::insertLog()
{
    QTableView *table = ui->tableView;
    const int top = table->rowAt(0);
    const int added = model->refresh();
    // A view scrolled down to older rows keeps showing them; one at the top shows the new rows.
    if (added > 0 && top > 0)
        table->scrollTo(model->index(top + added, 0), QAbstractItemView::PositionAtTop);
    table->setColumnWidth(0, 150);
}

void LogDialog::on_bt_ok_clicked()
{
    reject();
}

void LogDialog::information(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    MessageBox::exec(box);
}

void LogDialog::on_bt_save_clicked()
{
    const QString proposal =
        QStringLiteral("Voltiguard%1.csv").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    const QString name = FileDialog::getSaveFileName(this, tr("Save As"), proposal, QString());
    if (name.isEmpty())
        return;

    // Written beside the target and renamed over it at the end, so a failed or cancelled export leaves
    // no half file; only a directory that lets us write nothing but the existing file itself gets it
    // written in place.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        information(tr("Cannot open file for writting"), file.errorString());
        return;
    }
    const int rows = model->rowCount();
    LogCsvExport csv(file, tr("Date/Time,IP,Event\n"), 0, rows);
    if (!runInSlices(
            tr("Exporting the event log"), rows, [&csv] { return csv.step(); }, [&csv] { return csv.done(); })) {
        file.cancelWriting();
        return;
    }
    if (csv.failed() || !file.commit()) {
        const QString error = csv.failed() ? csv.error() : file.errorString();
        file.cancelWriting();
        information(tr("Cannot open file for writting"), error);
        return;
    }
    information(tr("Export Succeed!"), tr("Data had saved in %1!").arg(name));
}

void LogDialog::on_bt_print_clicked()
{
    PrintRangeDialog::Range range = PrintRangeDialog::WholeLog;
    int days = 0;
    if (model->rowCount() >= printQuestionRows) {
        PrintRangeDialog question(model->rowCount(), this);
        if (!question.ask())
            return;
        range = question.range();
        days = question.days();
    }
    QPrinter printer(QPrinter::HighResolution);
    if (!PrintDialog::exec(printer, this))
        return;

    // Taken now: the log may have grown while the questions were open.
    int first = 0;
    int count = model->rowCount();
    if (range == PrintRangeDialog::LastDays) {
        const QString since =
            QDateTime::currentDateTime().addDays(-days).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        count = LogDatabase(LogDatabase::viewConnection).rowsSince(since).value_or(0);
    } else if (range == PrintRangeDialog::RowsShown) {
        QTableView *table = ui->tableView;
        first = qMax(0, table->rowAt(0));
        const int last = table->rowAt(table->viewport()->height() - 1);
        count = table->rowAt(0) < 0 ? 0 : (last < 0 ? model->rowCount() : last + 1) - first;
    }

    LogPrint job(printer, tr("Date/Time"), tr("Event"), first, count);
    if (!runInSlices(
            tr("Printing the event log"), count, [&job] { return job.step(); }, [&job] { return job.done(); })) {
        // A cancelled printout is not printed; a PDF file, which cannot be called back, is removed.
        printer.abort();
        job.end();
        if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
            QFile::remove(printer.outputFileName());
    }
}

// Runs `step` between events until it returns false, so that the window and its tick go on. A progress
// dialog shows the rows done once the work takes a while; its Cancel stops the work before the next
// step. False when cancelled.
bool LogDialog::runInSlices(const QString &label, int total, const std::function<bool()> &step,
                            const std::function<int()> &done)
{
    QProgressDialog progress(this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowIcon(windowIcon());
    progress.setWindowModality(Qt::WindowModal);
    progress.setCancelButtonText(tr("Cancel"));
    progress.setMinimumDuration(progressDelayMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setRange(0, qMax(1, total));
    const auto show = [&] {
        const QLocale locale;
        progress.setLabelText(label + QLatin1Char('\n') +
                              tr("%1 of %2 rows").arg(locale.toString(done()), locale.toString(total)));
        progress.setValue(qMin(done(), total));
    };
    show();
    QElapsedTimer sinceShown;
    sinceShown.start();
    while (!progress.wasCanceled() && step()) {
        if (sinceShown.elapsed() >= progressUpdateMs) {
            show();
            sinceShown.restart();
        }
        QCoreApplication::processEvents();
    }
    return !progress.wasCanceled();
}

void LogDialog::on_bt_clean_clicked()
{
    QMessageBox box(QMessageBox::Warning, tr("warning"), tr("Delete Records?"), QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (MessageBox::exec(box) == QMessageBox::Yes) {
        // Dropping a large table takes a while: it runs on a thread of its own while the window goes on
        // (without user input), the table showing nothing meanwhile instead of reading a log that is
        // going away.
        model->clear();
        bool cleared = false;
        std::unique_ptr<QThread> clearing(
            QThread::create([&cleared] { cleared = LogDatabase(LogDatabase::clearConnection).clear(); }));
        QEventLoop waiting;
        connect(clearing.get(), &QThread::finished, &waiting, &QEventLoop::quit);
        clearing->start();
        waiting.exec(QEventLoop::ExcludeUserInputEvents);
        clearing->wait();
        // Read again whatever happened: a log that refused the clear keeps its rows, and rows a tick
        // wrote before the clear took hold are gone.
        model->reload();
        if (cleared) {
            setHeaders();
            ui->tableView->setColumnWidth(0, 150);
            ui->tableView->setColumnWidth(1, 120);
            ui->tableView->setColumnWidth(2, 220);
        }
    }
    emit cleanLog();
}

#include "closedialog.h"

#include "shutdown/closefile.h"
#include "ui_closedialog.h"

#include <QHeaderView>

namespace {
void setUpTable(QTableWidget *table)
{
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setColumnCount(1);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setShowGrid(false);
}

void fill(QTableWidget *table, QLabel *count, const QStringList &texts)
{
    count->setText(QString::number(texts.size()));
    table->setRowCount(int(texts.size()));
    for (int i = 0; i < texts.size(); ++i)
        table->setItem(i, 0, new QTableWidgetItem(texts.at(i)));
}
} // namespace

CloseDialog::CloseDialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::CloseDialog>())
{
    ui->setupUi(this);
    setUpTable(ui->programTableWidget);
    setUpTable(ui->savedfileTableWidget);
    ui->timeLineEdit->setReadOnly(true);

    const CloseFile::Record record = CloseFile::read();
    if (!record.opened)
        return;
    // The pass ran, but the machine did not go down.
    if (record.powerOffAccepted == false) {
        ui->timeLineEdit->setText(QStringLiteral("%1  (%2)").arg(record.time, tr("power-off refused")));
        ui->timeLineEdit->setToolTip(record.powerOffReason);
    } else {
        ui->timeLineEdit->setText(record.time);
    }

    QStringList closed;
    QStringList outOfTime = record.outOfTime;
    for (const QString &title : record.closed)
        closed << (outOfTime.removeOne(title) ? tr("%1: not saved (time budget)").arg(title) : title);
    fill(ui->programTableWidget, ui->numProgramLabel, closed);

    QStringList saved;
    for (int i = 0; i < record.saved.size(); ++i) {
        const QString &file = record.savedFiles.at(i);
        const QString &unavailable = record.savedUnavailableDirs.at(i);
        if (file.isEmpty())
            saved << record.saved.at(i);
        else if (unavailable.isEmpty())
            saved << tr("%1 (saved as %2)").arg(record.saved.at(i), file);
        else
            saved << tr("%1 (saved as %2: %3 could not be created)").arg(record.saved.at(i), file, unavailable);
    }
    fill(ui->savedfileTableWidget, ui->numSavedfileLabel, saved);
}

CloseDialog::~CloseDialog() = default;

void CloseDialog::on_pushButton_clicked()
{
    close();
}

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

void fill(QTableWidget *table, QLabel *count, const QStringList &titles)
{
    count->setText(QString::number(titles.size()));
    table->setRowCount(int(titles.size()));
    for (int i = 0; i < titles.size(); ++i)
        table->setItem(i, 0, new QTableWidgetItem(titles.at(i)));
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
    ui->timeLineEdit->setText(record.time);
    fill(ui->programTableWidget, ui->numProgramLabel, record.closed);
    fill(ui->savedfileTableWidget, ui->numSavedfileLabel, record.saved);
}

CloseDialog::~CloseDialog() = default;

void CloseDialog::on_pushButton_clicked()
{
    close();
}

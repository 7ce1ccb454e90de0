#include "printrangedialog.h"

#include "ui_printrangedialog.h"

#include <QIcon>
#include <QLocale>
#include <QQueue>

namespace {
QQueue<std::function<bool(PrintRangeDialog &)>> &answers()
{
    static QQueue<std::function<bool(PrintRangeDialog &)>> queue;
    return queue;
}
} // namespace

PrintRangeDialog::PrintRangeDialog(int rows, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::PrintRangeDialog>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/file/images/log.png")));
    ui->label_rows->setText(tr("The event log holds %1 rows. Print:").arg(QLocale().toString(rows)));
}

PrintRangeDialog::~PrintRangeDialog() = default;

bool PrintRangeDialog::ask()
{
    if (!answers().isEmpty())
        return answers().dequeue()(*this);
    return exec() == QDialog::Accepted;
}

PrintRangeDialog::Range PrintRangeDialog::range() const
{
    if (ui->rb_all->isChecked())
        return WholeLog;
    return ui->rb_shown->isChecked() ? RowsShown : LastDays;
}

int PrintRangeDialog::days() const
{
    return ui->sb_days->value();
}

void PrintRangeDialog::setNextAnswer(const std::function<bool(PrintRangeDialog &)> &answer)
{
    answers().enqueue(answer);
}

#include "printdialog.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QQueue>

namespace PrintDialog {
namespace {
QQueue<std::function<bool(QPrinter &)>> &answers()
{
    static QQueue<std::function<bool(QPrinter &)>> queue;
    return queue;
}
} // namespace

bool exec(QPrinter &printer, QWidget *parent)
{
    if (!answers().isEmpty())
        return answers().dequeue()(printer);
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void setNextAnswer(const std::function<bool(QPrinter &)> &answer)
{
    answers().enqueue(answer);
}
} // namespace PrintDialog

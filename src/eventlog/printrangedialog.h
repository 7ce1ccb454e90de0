#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class PrintRangeDialog;
}

// Asks how much of a large log to print: all of it, the rows of the last days, or the rows the table
// shows. Tests queue the answer of the next question.
class PrintRangeDialog : public QDialog
{
    Q_OBJECT
public:
    enum Range
    {
        WholeLog,
        LastDays,
        RowsShown,
    };

    PrintRangeDialog(int rows, QWidget *parent);
    ~PrintRangeDialog() override;

    // Runs the question modally, or hands the dialog to a queued answer. True when accepted.
    bool ask();
    Range range() const;
    int days() const;

    // The answer may set the dialog's choices and returns whether it was accepted.
    static void setNextAnswer(const std::function<bool(PrintRangeDialog &)> &answer);

private:
    std::unique_ptr<Ui::PrintRangeDialog> ui;
};

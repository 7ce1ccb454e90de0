#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class LogDialog;
}
class LogTableModel;

// True while the event log dialog is shown (GUI thread only).
extern bool logDialogOpen;

// The whole event log, newest first, with export, print and clear.
class LogDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LogDialog(QWidget *parent = nullptr);
    ~LogDialog() override;

    // From this many rows on, Print first asks how much to print.
    static constexpr int printQuestionRows = 10000;

    // Sets the table up and loads the log afresh, newest rows on top; called before each showing.
    void initView();

signals:
    void cleanLog();

public slots:
    void on_bt_ok_clicked();
    void on_bt_save_clicked();
    void on_bt_print_clicked();
    void on_bt_clean_clicked();
    void insertLog();

private:
    void setHeaders();
    void information(const QString &title, const QString &text);
    bool runInSlices(const QString &label, int total, const std::function<bool()> &step,
                     const std::function<int()> &done);

    std::unique_ptr<Ui::LogDialog> ui;
    LogTableModel *model = nullptr;
};

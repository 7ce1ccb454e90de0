#pragma once

#include <QDialog>
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

    // Sets the table up and loads the log afresh; called before each showing.
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

    std::unique_ptr<Ui::LogDialog> ui;
    LogTableModel *model = nullptr;
};

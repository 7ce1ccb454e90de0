#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CloseDialog;
}

// The report of the last pre-shutdown pass, read once from close_file.db when the
// dialog is built.
class CloseDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CloseDialog(QWidget *parent = nullptr);
    ~CloseDialog() override;

private slots:
    void on_pushButton_clicked();

private:
    std::unique_ptr<Ui::CloseDialog> ui;
};

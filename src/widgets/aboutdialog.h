#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

// The small "Help" box: logo, name and version, legal notice, and the link that
// opens the user manual in the interface language.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private slots:
    void on_pushButton_clicked();
    void for_label_enter();
    void for_label_click();

private:
    std::unique_ptr<Ui::AboutDialog> ui;
};

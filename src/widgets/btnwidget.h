#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class BtnWidget;
}
class QMyLabel;
class QtSvgPushButton;

// One big main-window button: an SVG button with a caption laid over its lower part.
class BtnWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BtnWidget(QWidget *parent = nullptr);
    ~BtnWidget() override;

    void setCaption(const QString &text);
    void setSkin(const QString &name);
    QMyLabel *captionLabel() const { return caption; }
    QtSvgPushButton *svgButton() const;

signals:
    void clicked();

private slots:
    void lab_clicked();
    void on_pushButton_clicked();

private:
    std::unique_ptr<Ui::BtnWidget> ui;
    QMyLabel *caption;
};

#include "btnwidget.h"

#include "qmylabel.h"
#include "ui_btnwidget.h"

BtnWidget::BtnWidget(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::BtnWidget>())
{
    ui->setupUi(this);
    caption = new QMyLabel(this);
    QFont font = caption->font();
    font.setPointSize(11);
    font.setWeight(QFont::Bold);
    caption->setFont(font);
    caption->setGeometry(20, 100, 140, 25);
    caption->setAlignment(Qt::AlignHCenter);
    connect(caption, &QMyLabel::clicked, this, &BtnWidget::lab_clicked);
}

BtnWidget::~BtnWidget() = default;

void BtnWidget::setCaption(const QString &text)
{
    caption->setText(text);
}

void BtnWidget::setSkin(const QString &name)
{
    ui->pushButton->setSkin(name);
}

QtSvgPushButton *BtnWidget::svgButton() const
{
    return ui->pushButton;
}

void BtnWidget::lab_clicked()
{
    ui->pushButton->repaint();
    emit clicked();
}

void BtnWidget::on_pushButton_clicked()
{
    emit clicked();
}

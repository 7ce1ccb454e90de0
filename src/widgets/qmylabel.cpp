#include "qmylabel.h"

QMyLabel::QMyLabel(QWidget *parent) : QLabel(parent) {}

void QMyLabel::mousePressEvent(QMouseEvent *)
{
    pressed = true;
}

void QMyLabel::mouseReleaseEvent(QMouseEvent *)
{
    if (!pressed)
        return;
    pressed = false;
    emit clicked();
}

void QMyLabel::enterEvent(QEnterEvent *)
{
    emit entered();
}

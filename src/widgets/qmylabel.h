#pragma once

#include <QLabel>

// A label that reports clicks (any mouse button, released anywhere after a press
// on it) and pointer entry.
class QMyLabel : public QLabel
{
    Q_OBJECT
public:
    explicit QMyLabel(QWidget *parent = nullptr);

signals:
    void clicked();
    void entered();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;

private:
    bool pressed = false;
};

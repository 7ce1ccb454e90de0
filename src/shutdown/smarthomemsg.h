#pragma once

#include <QDialog>
#include <QPoint>
#include <QTime>
#include <memory>

namespace Ui {
class SmartHomeMsg;
}

// The always-on-top alarm panel that slides up in the bottom-right corner while
// a shutdown countdown runs. It only displays, lets itself be dragged and says
// when the user closed it; the main window decides when it exists.
class SmartHomeMsg : public QDialog
{
    Q_OBJECT
public:
    // Where the cursor is relative to the 2-pixel border.
    enum Region
    {
        Top = 0,
        Bottom = 1,
        Left = 2,
        Right = 3,
        TopLeft = 4,
        BottomLeft = 5,
        BottomRight = 6,
        TopRight = 7,
        Interior = 8
    };

    SmartHomeMsg(const QString &title, const QString &text, QWidget *parent = nullptr);
    ~SmartHomeMsg() override;

    void setCountdownText(const QString &alarmText, const QTime &timeLeft);
    int region() const { return m_region; }
    static Region regionAt(const QRect &frame, const QPoint &global);

signals:
    void CloseBtn_clicked();

public slots:
    // Escape would only hide the panel; it closes it like the other paths.
    void reject() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_tb_ignore_clicked();
    void on_m_pButtonClose_clicked();

private:
    void updateRegion(const QPoint &global);

    std::unique_ptr<Ui::SmartHomeMsg> ui;
    bool m_pressed = false;
    QPoint m_dragOffset;
    int m_region = Interior;
};

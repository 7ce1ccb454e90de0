#pragma once

#include <QAbstractButton>
#include <QPicture>

// A push button drawn from three SVG skins, recorded once at unit size and
// replayed scaled, so painting never parses SVG.
class QtSvgPushButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit QtSvgPushButton(QWidget *parent = nullptr);
    void setSkin(const QString &name);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSize svgSize;
    QPicture pressedPicture;
    QPicture hoveredPicture;
    QPicture normalPicture;
};

#include "qtsvgpushbutton.h"

#include <QPainter>
#include <QSvgRenderer>

QtSvgPushButton::QtSvgPushButton(QWidget *parent) : QAbstractButton(parent), svgSize(-1, -1)
{
    // Styles do not repaint a custom button on enter and leave by themselves.
    setAttribute(Qt::WA_Hover);
}

void QtSvgPushButton::setSkin(const QString &name)
{
    const QString prefix = QStringLiteral(":/file/images/") + name + QLatin1Char('/');
    svgSize = QSize(-1, -1);
    pressedPicture = QPicture();
    hoveredPicture = QPicture();
    normalPicture = QPicture();

    QSvgRenderer renderer;
    QPainter painter;
    const struct
    {
        const char *file;
        QPicture *picture;
    } states[] = {{"hovered.svg", &hoveredPicture}, {"pressed.svg", &pressedPicture}, {"normal.svg", &normalPicture}};
    for (const auto &state : states) {
        if (!renderer.load(prefix + QLatin1String(state.file)))
            continue;
        if (state.picture == &hoveredPicture)
            svgSize = renderer.defaultSize();
        painter.begin(state.picture);
        renderer.render(&painter, QRectF(0, 0, 1, 1));
        painter.end();
    }
    updateGeometry();
    update();
}

QSize QtSvgPushButton::sizeHint() const
{
    if (svgSize.width() >= 1 && svgSize.height() >= 1)
        return svgSize;
    return QSize(173, 123);
}

void QtSvgPushButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QSize target = svgSize.scaled(size(), Qt::KeepAspectRatio);
    painter.scale(target.width(), target.height());
    if (isDown())
        painter.drawPicture(0, 0, pressedPicture);
    else if (underMouse())
        painter.drawPicture(0, 0, hoveredPicture);
    else
        painter.drawPicture(0, 0, normalPicture);
}

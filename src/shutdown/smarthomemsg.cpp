#include "smarthomemsg.h"

#include "ui_smarthomemsg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScreen>

namespace {
constexpr int border = 2;

Qt::CursorShape cursorOf(int region)
{
    switch (region) {
    case SmartHomeMsg::Top:
    case SmartHomeMsg::Bottom:
        return Qt::SizeVerCursor;
    case SmartHomeMsg::Left:
    case SmartHomeMsg::Right:
        return Qt::SizeHorCursor;
    case SmartHomeMsg::TopLeft:
    case SmartHomeMsg::BottomRight:
        return Qt::SizeFDiagCursor;
    case SmartHomeMsg::BottomLeft:
    case SmartHomeMsg::TopRight:
        return Qt::SizeBDiagCursor;
    default:
        return Qt::ArrowCursor;
    }
}

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}
} // namespace

SmartHomeMsg::SmartHomeMsg(const QString &title, const QString &text, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SmartHomeMsg>())
{
    Q_UNUSED(text)
    ui->setupUi(this);
    setObjectName(QStringLiteral("BaseFrame"));

    // Only the work area's size counts, not its origin.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    move(available.width() - width(), available.height());
    ui->label_title->setText(title);

    // A child of the panel, so a panel deleted mid-slide takes the animation with it.
    auto *slideIn = new QPropertyAnimation(this, "pos", this);
    slideIn->setDuration(500);
    slideIn->setStartValue(pos());
    slideIn->setEndValue(QPoint(available.width() - width(), available.height() - height()));
    connect(slideIn, &QPropertyAnimation::finished, slideIn, &QObject::deleteLater);
    slideIn->start();

    QFont font;
    font.setWeight(QFont::Bold);
    font.setPointSize(13);
    ui->textBrowser->setFont(font);

    m_pressed = false;
    m_region = Interior;
    // Edge cursors follow the pointer without a button held.
    setMouseTracking(true);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowStaysOnTopHint);
}

SmartHomeMsg::~SmartHomeMsg() = default;

void SmartHomeMsg::setCountdownText(const QString &alarmText, const QTime &timeLeft)
{
    ui->textBrowser->clear();
    ui->textBrowser->setWordWrap(true);
    const QString time =
        tr("%1:%2:%3").arg(twoDigits(timeLeft.hour()), twoDigits(timeLeft.minute()), twoDigits(timeLeft.second()));
    ui->textBrowser->setText(alarmText + QLatin1Char('\n') + tr("Shut down the operating system Countdown:") + time);
}

SmartHomeMsg::Region SmartHomeMsg::regionAt(const QRect &frame, const QPoint &global)
{
    const QPoint tl = frame.topLeft();
    const QPoint br = frame.bottomRight();
    const int x = global.x();
    const int y = global.y();
    const bool left = tl.x() <= x && x <= tl.x() + border;
    const bool right = br.x() - border <= x && x <= br.x();
    const bool top = tl.y() <= y && y <= tl.y() + border;
    const bool bottom = br.y() - border <= y && y <= br.y();
    if (left && top)
        return TopLeft;
    if (right && bottom)
        return BottomRight;
    if (left && bottom)
        return BottomLeft;
    if (right && top)
        return TopRight;
    if (left)
        return Left;
    if (right)
        return Right;
    if (top)
        return Top;
    if (bottom)
        return Bottom;
    return Interior;
}

void SmartHomeMsg::updateRegion(const QPoint &global)
{
    m_region = regionAt(frameGeometry(), global);
    setCursor(cursorOf(m_region));
}

void SmartHomeMsg::mousePressEvent(QMouseEvent *event)
{
    switch (event->button()) {
    case Qt::LeftButton:
        m_pressed = true;
        if (m_region == Interior)
            m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        else
            grabMouse();
        break;
    case Qt::RightButton:
        event->accept();
        break;
    default:
        QDialog::mousePressEvent(event);
    }
}

void SmartHomeMsg::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
        if (m_region != Interior) {
            releaseMouse();
            setCursor(Qt::ArrowCursor);
        }
    }
}

void SmartHomeMsg::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint global = event->globalPosition().toPoint();
    if (!m_pressed) {
        updateRegion(global);
    } else if (m_region == Interior) {
        move(global - m_dragOffset);
        event->accept();
    } else {
        const QPoint tl = frameGeometry().topLeft();
        const QPoint br = frameGeometry().bottomRight();
        QRect r(tl, br);
        const auto moveLeft = [&] {
            if (br.x() - global.x() > minimumWidth())
                r.setLeft(global.x());
        };
        const auto moveTop = [&] {
            if (br.y() - global.y() > minimumHeight())
                r.setTop(global.y());
        };
        switch (m_region) {
        case Top:
            moveTop();
            break;
        case Bottom:
            r.setBottom(global.y() - 1);
            break;
        case Left:
            moveLeft();
            break;
        case Right:
            r.setRight(global.x() - 1);
            break;
        case TopLeft:
            moveLeft();
            moveTop();
            break;
        case BottomLeft:
            r.setLeft(global.x());
            r.setBottom(global.y() - 1);
            break;
        case BottomRight:
            r.setRight(global.x() - 1);
            r.setBottom(global.y() - 1);
            break;
        case TopRight:
            r.setRight(global.x() - 1);
            r.setTop(global.y());
            break;
        default:
            break;
        }
        setGeometry(r);
    }
    QDialog::mouseMoveEvent(event);
}

void SmartHomeMsg::closeEvent(QCloseEvent *event)
{
    emit CloseBtn_clicked();
    event->accept();
}

void SmartHomeMsg::reject()
{
    close();
}

void SmartHomeMsg::on_tb_ignore_clicked()
{
    emit CloseBtn_clicked();
}

void SmartHomeMsg::on_m_pButtonClose_clicked()
{
    emit CloseBtn_clicked();
}

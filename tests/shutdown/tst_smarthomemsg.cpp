#include "shutdown/smarthomemsg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

namespace {
QRect workArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

void sendMouse(QWidget *w, QEvent::Type type, const QPoint &global, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(w->mapFromGlobal(global)), QPointF(global), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// A shown panel whose slide-in has been run to its end.
std::unique_ptr<SmartHomeMsg> settledPanel()
{
    auto panel = std::make_unique<SmartHomeMsg>("Alarm Prompt Dialog", QString());
    panel->setVisible(true);
    auto *slideIn = panel->findChild<QPropertyAnimation *>();
    slideIn->setCurrentTime(slideIn->duration());
    if (!QTest::qWaitFor([&] { return !panel->findChild<QPropertyAnimation *>(); }, 5000))
        qFatal("slide-in did not finish");
    return panel;
}
} // namespace

class TestSmartHomeMsg : public QObject
{
    Q_OBJECT
private slots:
    void startsBelowTheWorkAreaAndSlidesIn();
    void formAndFlags();
    void countdownText_data();
    void countdownText();
    void regions_data();
    void regions();
    void cursorFollowsTheRegion_data();
    void cursorFollowsTheRegion();
    void dragInTheInteriorMovesThePanel();
    void dragOnTheTopEdgeMovesAndOtherEdgesKeepTheSize();
    void rightButtonIsSwallowed();
    void everyClosePathEmitsTheSignal_data();
    void everyClosePathEmitsTheSignal();
    void chineseTexts();
};

void TestSmartHomeMsg::startsBelowTheWorkAreaAndSlidesIn()
{
    const QRect area = workArea();
    SmartHomeMsg panel("Alarm Prompt Dialog", QString());
    QCOMPARE(panel.size(), QSize(280, 180));
    QCOMPARE(panel.pos(), QPoint(area.width() - 280, area.height()));
    auto *slideIn = panel.findChild<QPropertyAnimation *>();
    QVERIFY(slideIn);
    QCOMPARE(slideIn->propertyName(), QByteArray("pos"));
    QCOMPARE(slideIn->duration(), 500);
    QCOMPARE(slideIn->endValue().toPoint(), QPoint(area.width() - 280, area.height() - 180));

    panel.setVisible(true);
    int lastY = panel.pos().y();
    bool rose = false;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 const int y = panel.pos().y();
                                 if (y > lastY)
                                     qFatal("panel moved down during the slide-in");
                                 rose |= y < lastY;
                                 lastY = y;
                                 return !panel.findChild<QPropertyAnimation *>();
                             }()),
                             5000);
    QVERIFY(rose);
    QCOMPARE(panel.pos(), QPoint(area.width() - 280, area.height() - 180));
    QCOMPARE(panel.frameGeometry().bottomRight(), QPoint(area.width() - 1, area.height() - 1));
}

void TestSmartHomeMsg::formAndFlags()
{
    SmartHomeMsg panel("Alarm Prompt Dialog", "not shown");
    QCOMPARE(panel.objectName(), QStringLiteral("BaseFrame"));
    QCOMPARE(panel.windowFlags() & ~Qt::WindowType_Mask,
             Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowStaysOnTopHint);
    QCOMPARE(panel.windowType(), Qt::Tool);
    QCOMPARE(panel.minimumSize(), QSize(280, 180));
    QCOMPARE(panel.maximumSize(), QSize(280, 180));
    panel.resize(252, 172);
    QCOMPARE(panel.size(), QSize(280, 180));
    QCOMPARE(panel.findChild<QLabel *>("label_title")->text(), QStringLiteral("Alarm Prompt Dialog"));
    QCOMPARE(panel.findChild<QLabel *>("textBrowser")->text(), QString());
    QCOMPARE(panel.findChild<QToolButton *>("tb_ignore")->text(), QStringLiteral("Close"));
    QCOMPARE(panel.findChild<QLabel *>("textBrowser")->font().pointSize(), 13);
}

void TestSmartHomeMsg::countdownText_data()
{
    QTest::addColumn<QString>("alarmText");
    QTest::addColumn<QTime>("timeLeft");
    QTest::addColumn<QString>("shown");

    QTest::newRow("utility, 4 min 59 s") << "Utility Fail\n"
                                         << QTime(0, 4, 59)
                                         << "Utility Fail\n\nShut down the operating system Countdown:00:04:59";
    QTest::newRow("two conditions, 1 h 2 min 3 s")
        << "Utility Fail\nBattery Low\n"
        << QTime(1, 2, 3) << "Utility Fail\nBattery Low\n\nShut down the operating system Countdown:01:02:03";
    QTest::newRow("longest delay") << "UPS Fail\n"
                                   << QTime(16, 39, 0)
                                   << "UPS Fail\n\nShut down the operating system Countdown:16:39:00";
}

void TestSmartHomeMsg::countdownText()
{
    QFETCH(QString, alarmText);
    QFETCH(QTime, timeLeft);
    QFETCH(QString, shown);
    SmartHomeMsg panel("Alarm Prompt Dialog", QString());
    panel.setCountdownText("stale\n", QTime(0, 0, 1));
    panel.setCountdownText(alarmText, timeLeft);
    auto *label = panel.findChild<QLabel *>("textBrowser");
    QCOMPARE(label->text(), shown);
    QVERIFY(label->wordWrap());
}

void TestSmartHomeMsg::regions_data()
{
    QTest::addColumn<QPoint>("offset"); // from the frame's top-left pixel of a 280 x 180 frame
    QTest::addColumn<int>("region");

    QTest::newRow("top-left corner") << QPoint(0, 0) << int(SmartHomeMsg::TopLeft);
    QTest::newRow("top-left corner, inner edge") << QPoint(2, 2) << int(SmartHomeMsg::TopLeft);
    QTest::newRow("bottom-right corner") << QPoint(279, 179) << int(SmartHomeMsg::BottomRight);
    QTest::newRow("bottom-right corner, inner edge") << QPoint(277, 177) << int(SmartHomeMsg::BottomRight);
    QTest::newRow("bottom-left corner") << QPoint(1, 178) << int(SmartHomeMsg::BottomLeft);
    QTest::newRow("top-right corner") << QPoint(278, 1) << int(SmartHomeMsg::TopRight);
    QTest::newRow("left edge") << QPoint(0, 90) << int(SmartHomeMsg::Left);
    QTest::newRow("right edge") << QPoint(279, 90) << int(SmartHomeMsg::Right);
    QTest::newRow("top edge") << QPoint(140, 2) << int(SmartHomeMsg::Top);
    QTest::newRow("bottom edge") << QPoint(140, 177) << int(SmartHomeMsg::Bottom);
    QTest::newRow("just inside the left edge") << QPoint(3, 90) << int(SmartHomeMsg::Interior);
    QTest::newRow("just inside the bottom edge") << QPoint(140, 176) << int(SmartHomeMsg::Interior);
    QTest::newRow("middle") << QPoint(140, 90) << int(SmartHomeMsg::Interior);
}

void TestSmartHomeMsg::regions()
{
    QFETCH(QPoint, offset);
    QFETCH(int, region);
    const QRect frame(QPoint(500, 400), QSize(280, 180));
    QCOMPARE(int(SmartHomeMsg::regionAt(frame, frame.topLeft() + offset)), region);
}

void TestSmartHomeMsg::cursorFollowsTheRegion_data()
{
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<int>("region");
    QTest::addColumn<int>("shape");

    QTest::newRow("top") << QPoint(140, 1) << 0 << int(Qt::SizeVerCursor);
    QTest::newRow("bottom") << QPoint(140, 179) << 1 << int(Qt::SizeVerCursor);
    QTest::newRow("left") << QPoint(1, 90) << 2 << int(Qt::SizeHorCursor);
    QTest::newRow("right") << QPoint(278, 90) << 3 << int(Qt::SizeHorCursor);
    QTest::newRow("top-left") << QPoint(0, 0) << 4 << int(Qt::SizeFDiagCursor);
    QTest::newRow("bottom-left") << QPoint(0, 179) << 5 << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-right") << QPoint(279, 179) << 6 << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-right") << QPoint(279, 0) << 7 << int(Qt::SizeBDiagCursor);
    QTest::newRow("interior") << QPoint(100, 100) << 8 << int(Qt::ArrowCursor);
}

void TestSmartHomeMsg::cursorFollowsTheRegion()
{
    QFETCH(QPoint, offset);
    QFETCH(int, region);
    QFETCH(int, shape);
    auto panel = settledPanel();
    const QPoint tl = panel->frameGeometry().topLeft();
    // Start from another region so that a stale cursor would show.
    sendMouse(panel.get(), QEvent::MouseMove, tl + (region == 8 ? QPoint(0, 0) : QPoint(140, 90)), Qt::NoButton,
              Qt::NoButton);
    sendMouse(panel.get(), QEvent::MouseMove, tl + offset, Qt::NoButton, Qt::NoButton);
    QCOMPARE(panel->region(), region);
    QCOMPARE(int(panel->cursor().shape()), shape);
    QVERIFY(panel->hasMouseTracking());
}

void TestSmartHomeMsg::dragInTheInteriorMovesThePanel()
{
    auto panel = settledPanel();
    const QPoint start = panel->pos();
    const QPoint grip = panel->frameGeometry().topLeft() + QPoint(120, 80);
    sendMouse(panel.get(), QEvent::MouseMove, grip, Qt::NoButton, Qt::NoButton);
    sendMouse(panel.get(), QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseMove, grip + QPoint(-30, -40), Qt::NoButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseMove, grip + QPoint(-300, -200), Qt::NoButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseButtonRelease, grip + QPoint(-300, -200), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(panel->pos(), start + QPoint(-300, -200));
    // Released: moving no longer drags.
    sendMouse(panel.get(), QEvent::MouseMove, grip, Qt::NoButton, Qt::NoButton);
    QCOMPARE(panel->pos(), start + QPoint(-300, -200));
}

void TestSmartHomeMsg::dragOnTheTopEdgeMovesAndOtherEdgesKeepTheSize()
{
    auto panel = settledPanel();
    const QRect before = panel->frameGeometry();
    const QPoint topEdge = before.topLeft() + QPoint(140, 1);
    sendMouse(panel.get(), QEvent::MouseMove, topEdge, Qt::NoButton, Qt::NoButton);
    QCOMPARE(panel->region(), int(SmartHomeMsg::Top));
    sendMouse(panel.get(), QEvent::MouseButtonPress, topEdge, Qt::LeftButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseMove, topEdge - QPoint(0, 50), Qt::NoButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseButtonRelease, topEdge - QPoint(0, 50), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(panel->size(), QSize(280, 180));
    QCOMPARE(panel->pos(), QPoint(before.left(), topEdge.y() - 50));
    QCOMPARE(int(panel->cursor().shape()), int(Qt::ArrowCursor));

    const QRect moved = panel->frameGeometry();
    const QPoint rightEdge = moved.topLeft() + QPoint(279, 90);
    sendMouse(panel.get(), QEvent::MouseMove, rightEdge, Qt::NoButton, Qt::NoButton);
    QCOMPARE(panel->region(), int(SmartHomeMsg::Right));
    sendMouse(panel.get(), QEvent::MouseButtonPress, rightEdge, Qt::LeftButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseMove, rightEdge + QPoint(60, 0), Qt::NoButton, Qt::LeftButton);
    sendMouse(panel.get(), QEvent::MouseButtonRelease, rightEdge + QPoint(60, 0), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(panel->frameGeometry(), moved);
}

void TestSmartHomeMsg::rightButtonIsSwallowed()
{
    auto panel = settledPanel();
    const QPoint start = panel->pos();
    const QPoint grip = panel->frameGeometry().topLeft() + QPoint(120, 80);
    sendMouse(panel.get(), QEvent::MouseButtonPress, grip, Qt::RightButton, Qt::RightButton);
    sendMouse(panel.get(), QEvent::MouseMove, grip + QPoint(50, 50), Qt::NoButton, Qt::RightButton);
    QCOMPARE(panel->pos(), start);
}

void TestSmartHomeMsg::everyClosePathEmitsTheSignal_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("Close button") << "tb_ignore";
    QTest::newRow("title-bar button") << "m_pButtonClose";
    QTest::newRow("close event") << "close";
    QTest::newRow("Escape") << "escape";
}

void TestSmartHomeMsg::everyClosePathEmitsTheSignal()
{
    QFETCH(QString, path);
    auto panel = settledPanel();
    QSignalSpy spy(panel.get(), &SmartHomeMsg::CloseBtn_clicked);
    if (path == QLatin1String("close"))
        panel->close();
    else if (path == QLatin1String("escape"))
        QTest::keyClick(panel.get(), Qt::Key_Escape);
    else
        QTest::mouseClick(panel->findChild<QToolButton *>(path), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

void TestSmartHomeMsg::chineseTexts()
{
    QTranslator zh;
    QVERIFY(zh.load(QStringLiteral(":/file/zh.qm")));
    QCoreApplication::installTranslator(&zh);
    SmartHomeMsg panel("告警框", QString());
    panel.setCountdownText(QStringLiteral("市电故障\n"), QTime(0, 9, 58));
    QCoreApplication::removeTranslator(&zh);
    QCOMPARE(panel.findChild<QLabel *>("textBrowser")->text(),
             QStringLiteral("市电故障\n\n关闭操作系统倒计时时间:00:09:58"));
    QCOMPARE(panel.findChild<QToolButton *>("tb_ignore")->text(), QStringLiteral("关闭"));
}

QTEST_MAIN(TestSmartHomeMsg)
#include "tst_smarthomemsg.moc"

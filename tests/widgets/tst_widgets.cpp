#include "widgets/btnwidget.h"
#include "widgets/qmylabel.h"
#include "widgets/qtsvgpushbutton.h"

#include <QSignalSpy>
#include <QTest>

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void sizeHint_data()
    {
        QTest::addColumn<QString>("skin");
        QTest::addColumn<QSize>("hint");
        QTest::newRow("full skin") << "set" << QSize(173, 123);
        QTest::newRow("hovered missing") << "halfskin" << QSize(173, 123);
        QTest::newRow("no such skin") << "nothing" << QSize(173, 123);
    }

    void sizeHint()
    {
        QFETCH(QString, skin);
        QFETCH(QSize, hint);
        QtSvgPushButton button;
        QCOMPARE(button.sizeHint(), QSize(173, 123));
        button.setSkin(skin);
        QCOMPARE(button.sizeHint(), hint);
    }

    void widerWidgetAnchorsLeft()
    {
        QtSvgPushButton button;
        button.setSkin("set");
        button.resize(346, 123);
        const QImage image = button.grab().toImage();
        const QColor background = button.palette().color(QPalette::Window);
        QVERIFY(image.pixelColor(86, 60) != background);
        QCOMPARE(image.pixelColor(300, 60), background);
    }

    void labelClicks_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("releaseAt");
        QTest::newRow("left on label") << Qt::LeftButton << QPoint(5, 5);
        QTest::newRow("right on label") << Qt::RightButton << QPoint(5, 5);
        QTest::newRow("dragged off and released") << Qt::LeftButton << QPoint(500, 400);
    }

    void labelClicks()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, releaseAt);
        QWidget window;
        window.resize(600, 500);
        auto *label = new QMyLabel(&window);
        label->setGeometry(0, 0, 100, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicked(label, &QMyLabel::clicked);
        QTest::mousePress(label, button, {}, QPoint(5, 5));
        // The label holds the mouse grab during the press, so the release reaches it
        // wherever the pointer is.
        QTest::mouseRelease(label, button, {}, releaseAt);
        QCOMPARE(clicked.count(), 1);
        QTest::mouseRelease(label, button, {}, QPoint(5, 5));
        QCOMPARE(clicked.count(), 1);
    }

    void btnWidgetClicksOnce_data()
    {
        QTest::addColumn<bool>("onCaption");
        QTest::newRow("picture") << false;
        QTest::newRow("caption") << true;
    }

    void btnWidgetClicksOnce()
    {
        QFETCH(bool, onCaption);
        BtnWidget w;
        w.resize(173, 123);
        w.setSkin("log");
        w.setCaption("Log");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QSignalSpy clicked(&w, &BtnWidget::clicked);
        QWidget *target = onCaption ? static_cast<QWidget *>(w.captionLabel()) : w.svgButton();
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(w.captionLabel()->geometry(), QRect(20, 100, 140, 25));
        QCOMPARE(w.captionLabel()->text(), QString("Log"));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"

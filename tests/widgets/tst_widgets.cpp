#include "tempdatadir.h"
#include "widgets/btnwidget.h"
#include "widgets/helpfile.h"
#include "widgets/qmylabel.h"
#include "widgets/qtsvgpushbutton.h"

#include <QtTest>
#include <QtWidgets>

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void svgButtonWithoutHoveredPicture()
    {
        QtSvgPushButton button;
        button.setSkin("halfskin");
        QCOMPARE(button.sizeHint(), QSize(173, 123));
    }

    // Pressed, then released wherever (the pressed label holds the grab): one click.
    void clicks_data()
    {
        QTest::addColumn<bool>("caption");
        QTest::addColumn<QPoint>("releaseAt");
        QTest::newRow("label") << false << QPoint(5, 5);
        QTest::newRow("label, dragged off") << false << QPoint(500, 400);
        QTest::newRow("big button's caption") << true << QPoint(10, 10);
    }

    void clicks()
    {
        QFETCH(bool, caption);
        QFETCH(QPoint, releaseAt);
        QWidget window;
        auto *label = new QMyLabel(&window);
        auto *big = new BtnWidget(&window);
        big->setGeometry(200, 0, 173, 123);
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy labelClicked(label, &QMyLabel::clicked), bigClicked(big, &BtnWidget::clicked);
        QWidget *w = caption ? big->captionLabel() : label;
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(w, Qt::LeftButton, {}, releaseAt);
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(labelClicked.count() + bigClicked.count(), 1);
    }

    void helpLookupOrder()
    {
        QTemporaryDir root;
        qputenv("XDG_DATA_DIRS", root.filePath("data").toLocal8Bit());
        qputenv("XDG_DATA_HOME", root.filePath("home").toLocal8Bit());
        const QString program = root.filePath("bin");
        const QStringList places = {"bin/help_en.html", "share/voltiguard/help_en.html",
                                    "data/voltiguard/help_en.html"};
        for (const QString &place : places)
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(place).path()) && writeFile(root.filePath(place), {}));
        QCOMPARE(helpFilePath(true, program), QString());
        for (const QString &place : places) {
            QCOMPARE(helpFilePath(false, program), root.filePath(place));
            QVERIFY(QFile::remove(root.filePath(place)));
        }
        QCOMPARE(helpFilePath(false, program), QString());
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"

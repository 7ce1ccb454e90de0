#include "app/mainwindow.h"
#include "config/params.h"
#include "model/upsstatus.h"
#include "tempdatadir.h"
#include "widgets/messagebox.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void noToExitQuestionKeepsRunning()
    {
        TempDataDir dir;
        dir.writeParams();
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        MessageBox::shownBoxes().clear();
        MessageBox::setNextAnswer(QMessageBox::No);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
        QCOMPARE(MessageBox::shownBoxes().first().title, QString("Exit"));
        QCOMPARE(MessageBox::shownBoxes().first().text, QString("Do you want to exit Voltiguard?"));
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QVERIFY(w.close());
    }

    void showsStatusEveryTick()
    {
        TempDataDir dir;
        dir.writeParams({{"Utility_para", true}});
        MainWindow w;
        auto *state = w.findChild<QLabel *>("td_ip");
        QCOMPARE(state->text(), QString("127.0.0.1"));
        QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::red));
        upsStatus.agentAnswered();
        upsStatus.applyAlarmMask(2);
        w.timerslots();
        QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::darkGreen));
        const QList<QLabel *> fields = w.statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(!fields.isEmpty());
        QCOMPARE(fields.last()->text(), QString("Agent and UPS Connected"));
        auto *lamp = w.findChild<QLabel *>("state_utility");
        QCOMPARE(lamp->pixmap().toImage(), QPixmap(":/file/images/red.png").toImage());
        auto *battery = w.findChild<QLabel *>("state_battery");
        QCOMPARE(battery->pixmap().toImage(), QPixmap(":/file/images/grey.png").toImage());
        MessageBox::setNextAnswer(QMessageBox::Yes);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

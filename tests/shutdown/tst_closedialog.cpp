#include "shutdown/closedialog.h"
#include "shutdown/closefile.h"
#include "tempdatadir.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace {
QStringList column(QTableWidget *table)
{
    QStringList values;
    for (int i = 0; i < table->rowCount(); ++i)
        values << (table->item(i, 0) ? table->item(i, 0)->text() : QString());
    return values;
}

// Writes close_file.db the way a pass leaves it, with its own connection.
void writeDatabase(const QString &path, const QStringList &times, const QStringList &closed, const QStringList &saved)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("create table closedfile(name varchar)"));
        QVERIFY(q.exec("create table savedfile(name varchar)"));
        QVERIFY(q.exec("create table time(time varchar)"));
        const auto insert = [&](const char *table, const QStringList &values) {
            for (const QString &v : values) {
                q.prepare(QStringLiteral("insert into %1 values (?)").arg(QLatin1String(table)));
                q.addBindValue(v);
                QVERIFY(q.exec());
            }
        };
        insert("time", times);
        insert("closedfile", closed);
        insert("savedfile", saved);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture"));
}
} // namespace

class TestCloseDialog : public QObject
{
    Q_OBJECT
private slots:
    void showsTheRecord_data();
    void showsTheRecord();
    void okClosesTheDialog();
};

void TestCloseDialog::showsTheRecord_data()
{
    // missing, empty, populated (as an older build writes it), unopenable, refused (a
    // pass of ours whose power-off was refused: closed and saved are what is shown)
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QStringList>("closed");
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("closedCount");
    QTest::addColumn<QString>("savedCount");

    QTest::newRow("missing database") << "missing" << QStringList{} << QStringList{} << QStringList{} << ""
                                      << "0"
                                      << "0";
    QTest::newRow("empty database without tables") << "empty" << QStringList{} << QStringList{} << QStringList{} << ""
                                                   << "0"
                                                   << "0";
    QTest::newRow("three closed, one saved")
        << "populated" << QStringList{"2026-12-06 21:00:05"} << QStringList{"notes - Editor", "it's mine", "Mail"}
        << QStringList{"it's mine"} << "2026-12-06 21:00:05"
        << "3"
        << "1";
    QTest::newRow("tables of several passes, the last time wins")
        << "populated" << QStringList{"2026-12-05 08:00:00", "2026-12-06 09:30:00"} << QStringList{"A", "B"}
        << QStringList{"B", "B", "B"} << "2026-12-06 09:30:00"
        << "2"
        << "3";
    QTest::newRow("tables without rows") << "populated" << QStringList{} << QStringList{} << QStringList{} << ""
                                         << "0"
                                         << "0";
    QTest::newRow("power-off refused, paths and the time budget")
        << "refused" << QStringList{} << QStringList{"notes - Editor", "tabs - Editor: not saved (time budget)"}
        << QStringList{"notes - Editor (saved as /media/usb/backup1_20261206-210010)",
                       "tabs - Editor (saved as /data/Temp/backup2_20261206-210020: /media/gone could not be created)"}
        << "2026-12-06 21:00:05  (power-off refused)"
        << "2"
        << "2";
    QTest::newRow("database that cannot be opened")
        << "unopenable" << QStringList{} << QStringList{} << QStringList{} << ""
        << ""
        << "";
}

void TestCloseDialog::showsTheRecord()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, times);
    QFETCH(QStringList, closed);
    QFETCH(QStringList, saved);
    QFETCH(QString, time);
    QFETCH(QString, closedCount);
    QFETCH(QString, savedCount);

    TempDataDir data;
    if (setup == QLatin1String("empty")) {
        QFile f(CloseFile::path());
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (setup == QLatin1String("populated")) {
        writeDatabase(CloseFile::path(), times, closed, saved);
    } else if (setup == QLatin1String("unopenable")) {
        QVERIFY(QDir().mkpath(CloseFile::path()));
    } else if (setup == QLatin1String("refused")) {
        CloseFile::reset();
        CloseFile::setTime(QStringLiteral("2026-12-06 21:00:05"));
        CloseFile::addClosed(QStringLiteral("notes - Editor"));
        CloseFile::addSaved(QStringLiteral("notes - Editor"), QStringLiteral("/media/usb/backup1_20261206-210010"));
        CloseFile::addClosed(QStringLiteral("tabs - Editor"));
        CloseFile::addSaved(QStringLiteral("tabs - Editor"), QStringLiteral("/data/Temp/backup2_20261206-210020"),
                            QStringLiteral("/media/gone"));
        CloseFile::markLastClosedOutOfTime();
        CloseFile::setPowerOff(QStringLiteral("2026-12-06 21:00:05"), false, QStringLiteral("no"));
    }

    CloseDialog dialog;
    QCOMPARE(dialog.findChild<QLineEdit *>("timeLineEdit")->text(), time);
    QCOMPARE(dialog.findChild<QLabel *>("numProgramLabel")->text(), closedCount);
    QCOMPARE(dialog.findChild<QLabel *>("numSavedfileLabel")->text(), savedCount);
    QCOMPARE(column(dialog.findChild<QTableWidget *>("programTableWidget")), closed);
    QCOMPARE(column(dialog.findChild<QTableWidget *>("savedfileTableWidget")), saved);
    // The connection is gone again, so the next pass can add it.
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("param")));
}

void TestCloseDialog::okClosesTheDialog()
{
    TempDataDir data;
    CloseDialog dialog;
    QTimer::singleShot(0, &dialog,
                       [&] { QTest::mouseClick(dialog.findChild<QPushButton *>("pushButton"), Qt::LeftButton); });
    // A dialog that stayed open would end here with another code.
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(42); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

QTEST_MAIN(TestCloseDialog)
#include "tst_closedialog.moc"

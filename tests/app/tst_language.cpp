#include "app/language.h"

#include <QTest>

class TestLanguage : public QObject
{
    Q_OBJECT
private slots:
    void choice_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("zh_CN locale") << "" << "zh_CN" << true;
        QTest::newRow("zh_TW locale") << "en_US.UTF-8" << "zh_TW" << true;
        QTest::newRow("upper-case locale") << "" << "ZH_cn" << true;
        QTest::newRow("C with LANG zh_CN.UTF-8") << "zh_CN.UTF-8" << "C" << true;
        QTest::newRow("C with upper-case LANG") << "ZH_CN.UTF-8" << "C" << true;
        QTest::newRow("C with LANG zh") << "zh" << "C" << false;
        QTest::newRow("C with LANG zhcn") << "zhcn" << "C" << false;
        QTest::newRow("C without LANG") << "" << "C" << false;
        QTest::newRow("en_US with LANG zh_CN") << "zh_CN" << "en_US" << false;
        QTest::newRow("de_DE") << "de_DE.UTF-8" << "de_DE" << false;
        QTest::newRow("C with LANG en_GB") << "en_GB.UTF-8" << "C" << false;
    }

    void choice()
    {
        QFETCH(QString, lang);
        QFETCH(QString, locale);
        QFETCH(bool, chinese);
        QCOMPARE(chineseChosen(lang, locale), chinese);
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"

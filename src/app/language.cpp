#include "language.h"

bool chineseUi = false;

QLocale uiLocale()
{
    return chineseUi ? QLocale(QLocale::Chinese, QLocale::China) : QLocale(QLocale::English, QLocale::UnitedStates);
}

bool chineseChosen(const QString &langVariable, const QString &localeName)
{
    const QString lang = langVariable.toLower();
    QString loc = localeName.toLower().left(2);
    if (loc == QLatin1String("c") && lang.size() > 2 && lang.contains(QLatin1Char('_')))
        loc = lang.left(2);
    return loc == QLatin1String("zh");
}

#pragma once

#include <QLocale>
#include <QString>

// True when the user interface should be Chinese: the system locale's name starts
// with "zh", or the locale is "C" and LANG names a Chinese locale (xx_YY form).
bool chineseChosen(const QString &lang, const QString &localeName);

// Set once Chinese translations are installed; the about box picks its manual by it.
extern bool chineseUi;

// The locale of the interface language, for day and month names.
QLocale uiLocale();

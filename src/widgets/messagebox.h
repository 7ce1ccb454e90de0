#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

// Every modal box of the application goes through here, so that tests can answer
// a box without showing it and check what it said.
namespace MessageBox {
struct Shown
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs the box modally and returns its result; a queued answer is returned at once.
int exec(QMessageBox &box);
// Convenience for a box with one OK button.
void warning(QWidget *parent, const QString &title, const QString &text);

void setNextAnswer(int answer);
// The answer is computed when the box comes up: lets a test act at that moment.
void setNextAnswer(std::function<int()> answer);
QList<Shown> &shownBoxes();
} // namespace MessageBox

#include "messagebox.h"

#include <QQueue>

namespace MessageBox {
namespace {
QQueue<std::function<int()>> &answers()
{
    static QQueue<std::function<int()>> queue;
    return queue;
}
} // namespace

int exec(QMessageBox &box)
{
    shownBoxes().append(Shown{box.windowTitle(), box.text(), box.icon()});
    if (!answers().isEmpty())
        return answers().dequeue()();
    return box.exec();
}

void warning(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    exec(box);
}

void setNextAnswer(int answer)
{
    answers().enqueue([answer] { return answer; });
}

void setNextAnswer(std::function<int()> answer)
{
    answers().enqueue(std::move(answer));
}

QList<Shown> &shownBoxes()
{
    static QList<Shown> list;
    return list;
}
} // namespace MessageBox

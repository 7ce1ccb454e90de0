#pragma once

#include <QtTest>
#include <QtWidgets>

namespace WidgetDriver {

template <typename T> T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no widget %s under %s", name, qPrintable(w.objectName()));
    return c;
}

// Near the left edge: check boxes and radio buttons only take clicks on their indicator and text.
inline void click(QAbstractButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(qMin(8, b->width() / 2), b->height() / 2));
}

// One key event per character, so that non-ASCII text is typed as well.
inline void setText(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    edit->del();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Runs fn on the next modal dialog of type T once shown, inside the exec() that opens it; fn closes it.
template <typename T> void onModal(std::function<void(T *)> fn)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        auto *w = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        fn(w);
    });
    timer->start(10);
}
} // namespace WidgetDriver

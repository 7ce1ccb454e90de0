#include "app/language.h"
#include "app/mainwindow.h"
#include "platform/singleinstance.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    if (chineseChosen(QString::fromLocal8Bit(qgetenv("LANG")), QLocale::system().name())) {
        // Kept for the whole run; a resource that fails to load leaves the English texts.
        auto *appTranslator = new QTranslator;
        (void)appTranslator->load(QStringLiteral(":/file/zh.qm"));
        QApplication::installTranslator(appTranslator);
        auto *qtTranslator = new QTranslator;
        (void)qtTranslator->load(QStringLiteral(":/file/qt_zh_CN.qm"));
        QApplication::installTranslator(qtTranslator);
        chineseUi = true;
    }

    const SingleInstance instance;
    if (!instance.acquired()) {
        QMessageBox box(QMessageBox::Warning, QObject::tr("Warning"), QObject::tr("The application is running!"),
                        QMessageBox::NoButton);
        box.addButton(QObject::tr("OK"), QMessageBox::AcceptRole);
        box.setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255);"));
        MessageBox::exec(box);
        return 0;
    }

    MainWindow window;
    window.setWindowIcon(QIcon(QStringLiteral(":/file/images/Tarnwell.png")));
    const QSize size = QPixmap(QStringLiteral(":/file/images/background.png")).size();
    window.setMinimumSize(size);
    window.setMaximumSize(size);
    window.setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window.setVisible(true);
    return app.exec();
}

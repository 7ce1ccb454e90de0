#include "app/commandline.h"
#include "app/language.h"
#include "app/mainwindow.h"
#include "config/datadir.h"
#include "platform/singleinstance.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitCode = handleInfoOptions(argc, argv))
        return *exitCode;
    // The Wayland app id and the window class then match the desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.voltiguard.Voltiguard"));
    installDisplayGuard();
    QApplication app(argc, argv);
    releaseDisplayGuard();

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
    // Chosen, created and moved from an older layout by the one instance that runs.
    (void)dataLocations();

    MainWindow window;
    window.setWindowIcon(QIcon(QStringLiteral(":/file/images/Tarnwell.png")));
    const QSize size = QPixmap(QStringLiteral(":/file/images/background.png")).size();
    window.setMinimumSize(size);
    window.setMaximumSize(size);
    window.setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window.setVisible(true);
    return app.exec();
}

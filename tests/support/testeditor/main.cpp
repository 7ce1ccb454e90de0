// A small Qt 6 editor for the desktop tests. Each --text becomes an unsaved
// document in its own tab; closing the window asks about each one in turn
// (Save, Discard, Cancel) and Save asks for a file name, like real editors do.
// The other options play applications that do not let the document saver
// close them, and windows it must leave alone.
#include <QApplication>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace {
class EditorWindow : public QMainWindow
{
public:
    EditorWindow(const QStringList &texts, bool ignoreClose, bool hideOnClose)
        : m_tabs(new QTabWidget(this)), m_ignoreClose(ignoreClose), m_hideOnClose(hideOnClose)
    {
        setCentralWidget(m_tabs);
        for (const QString &text : texts) {
            auto *edit = new QPlainTextEdit(m_tabs);
            edit->setPlainText(text);
            edit->document()->setModified(true);
            m_tabs->addTab(edit, QStringLiteral("Untitled %1").arg(m_tabs->count() + 1));
        }
        resize(640, 480);
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (m_ignoreClose) {
            event->ignore();
            return;
        }
        if (m_hideOnClose) {
            hide();
            event->ignore();
            return;
        }
        while (m_tabs->count() > 0) {
            auto *edit = static_cast<QPlainTextEdit *>(m_tabs->widget(0));
            if (edit->document()->isModified() && !askAndSave(edit)) {
                event->ignore();
                return;
            }
            m_tabs->removeTab(0);
            edit->deleteLater();
        }
        event->accept();
    }

private:
    bool askAndSave(QPlainTextEdit *edit)
    {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        QStringLiteral("Save changes to %1?").arg(m_tabs->tabText(0)),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Save);
        const int answer = box.exec();
        if (answer == QMessageBox::Discard)
            return true;
        if (answer != QMessageBox::Save)
            return false;
        const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), QString(), QString(),
                                                          nullptr, QFileDialog::DontUseNativeDialog);
        QFile file(name);
        if (name.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write(edit->toPlainText().toUtf8());
        return true;
    }

    QTabWidget *m_tabs;
    bool m_ignoreClose;
    bool m_hideOnClose;
};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption caption(QStringLiteral("caption"), QStringLiteral("Window title."), QStringLiteral("text"),
                                     QStringLiteral("Test Editor"));
    const QCommandLineOption text(QStringLiteral("text"), QStringLiteral("An unsaved document."),
                                  QStringLiteral("text"));
    const QCommandLineOption ignoreClose(QStringLiteral("ignore-close"), QStringLiteral("Refuse every close."));
    const QCommandLineOption hideOnClose(QStringLiteral("hide-on-close"),
                                         QStringLiteral("Hide at the close request and keep running."));
    const QCommandLineOption tool(QStringLiteral("tool"), QStringLiteral("Show a tool window instead."));
    parser.addOptions({caption, text, ignoreClose, hideOnClose, tool});
    parser.process(app);

    if (parser.isSet(tool)) {
        QWidget palette(nullptr, Qt::Tool);
        palette.setWindowTitle(parser.value(caption));
        palette.resize(200, 300);
        palette.show();
        return app.exec();
    }
    EditorWindow window(parser.values(text), parser.isSet(ignoreClose), parser.isSet(hideOnClose));
    window.setWindowTitle(parser.value(caption));
    window.show();
    return app.exec();
}

// A small Qt 6 editor for the desktop tests: each --text is an unsaved document in
// a tab of its own; closing asks about each (Save, Discard, Cancel), and Save asks
// for a file name. --ignore-close, --hide-on-close and --tool play windows the
// document saver must end or leave alone.
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
    QTabWidget *tabs = new QTabWidget(this);
    bool ignoreClose = false;
    bool hideOnClose = false;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (hideOnClose)
            hide();
        event->setAccepted(!ignoreClose && !hideOnClose);
        while (event->isAccepted() && tabs->count() > 0) {
            if (!askAndSave(static_cast<QPlainTextEdit *>(tabs->widget(0))))
                event->ignore();
            else
                delete tabs->widget(0);
        }
    }

private:
    bool askAndSave(QPlainTextEdit *edit)
    {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        QStringLiteral("Save changes to %1?").arg(tabs->tabText(0)),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Save);
        const int answer = box.exec();
        if (answer != QMessageBox::Save)
            return answer == QMessageBox::Discard;
        QFile file(QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), QString(), QString(), nullptr,
                                                QFileDialog::DontUseNativeDialog));
        return !file.fileName().isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(edit->toPlainText().toUtf8()) >= 0;
    }
};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption caption(QStringLiteral("caption"), QString(), QStringLiteral("text"),
                                     QStringLiteral("Test Editor"));
    const QCommandLineOption text(QStringLiteral("text"), QString(), QStringLiteral("text"));
    const QCommandLineOption ignoreClose(QStringLiteral("ignore-close"));
    const QCommandLineOption hideOnClose(QStringLiteral("hide-on-close"));
    const QCommandLineOption tool(QStringLiteral("tool"));
    parser.addOptions({caption, text, ignoreClose, hideOnClose, tool});
    parser.process(app);
    QWidget palette(nullptr, Qt::Tool);
    EditorWindow editor;
    QWidget *shown = parser.isSet(tool) ? &palette : &editor;
    editor.ignoreClose = parser.isSet(ignoreClose);
    editor.hideOnClose = parser.isSet(hideOnClose);
    editor.setCentralWidget(editor.tabs);
    for (const QString &document : parser.values(text)) {
        auto *edit = new QPlainTextEdit(document);
        edit->document()->setModified(true);
        editor.tabs->addTab(edit, QStringLiteral("Untitled %1").arg(editor.tabs->count() + 1));
    }
    shown->setWindowTitle(parser.value(caption));
    shown->resize(640, 480);
    shown->show();
    return app.exec();
}

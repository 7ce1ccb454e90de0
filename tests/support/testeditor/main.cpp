// A Qt 6 editor: each --text an unsaved document in a tab, each asked about on closing (Save asks for a name);
// --ignore-close, --hide-on-close and --tool play windows the saver must end or leave.
#include <QtWidgets>

namespace {
class EditorWindow : public QMainWindow
{
public:
    QTabWidget *tabs = new QTabWidget(this);
    bool ignoreClose = false, hideOnClose = false;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        setVisible(!hideOnClose);
        event->setAccepted(!ignoreClose && !hideOnClose);
        while (event->isAccepted() && tabs->count() > 0) {
            QMessageBox box(QMessageBox::Question, windowTitle(), "Save changes?",
                            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
            box.setDefaultButton(QMessageBox::Save);
            const int answer = box.exec();
            QFile file(answer == QMessageBox::Save ? QFileDialog::getSaveFileName(this, "Save As", {}, {}, nullptr,
                                                                                  QFileDialog::DontUseNativeDialog)
                                                   : QString());
            if (answer == QMessageBox::Discard ||
                (file.open(QIODevice::WriteOnly) &&
                 file.write(static_cast<QPlainTextEdit *>(tabs->widget(0))->toPlainText().toUtf8()) >= 0))
                delete tabs->widget(0);
            else
                event->ignore();
        }
    }
};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"caption", {}, "text", "Test Editor"},
                       {"text", {}, "text"},
                       {"ignore-close", {}},
                       {"hide-on-close", {}},
                       {"tool", {}}});
    parser.process(app);
    EditorWindow editor;
    editor.setWindowFlag(Qt::Tool, parser.isSet("tool"));
    editor.ignoreClose = parser.isSet("ignore-close");
    editor.hideOnClose = parser.isSet("hide-on-close");
    editor.setCentralWidget(editor.tabs);
    for (const QString &document : parser.values("text")) {
        auto *edit = new QPlainTextEdit(document);
        edit->document()->setModified(true);
        editor.tabs->addTab(edit, "Untitled");
    }
    editor.setWindowTitle(parser.value("caption"));
    editor.resize(640, 480);
    editor.show();
    return app.exec();
}

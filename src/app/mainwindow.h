#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <memory>

namespace Ui {
class MainWindow;
}
class LogDialog;
struct LogRow;
class QLabel;
class QStandardItemModel;
class QTimer;

// The application's only main window and its controller: builds everything that
// runs and drives it from a one-second tick.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void refreshLog();

public slots:
    void bt_log_clicked();
    void timerslots();
    void logClickSlots();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void initialise();
    void buildStatusBar();
    void configureForm();
    void showStatus();
    void flushPendingEvents();
    void fillRecentModel(const QList<LogRow> &rows, const QString &ipHeader);

    std::unique_ptr<Ui::MainWindow> ui;
    QTimer *tickTimer = nullptr;
    QLabel *clockLabel = nullptr;
    QLabel *stateLabel = nullptr;
    QLabel *countdownLabel = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    int blinkPhase = 0;
    QString trayToolTip;
    QStandardItemModel *recentModel = nullptr;
    std::unique_ptr<LogDialog> logDialog;
};

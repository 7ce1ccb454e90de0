#pragma once

#include "app/countdown.h"
#include "snmp/snmpthread.h"

#include "model/logevent.h"
#include "model/statusview.h"
#include "platform/accessibility.h"
#include "shutdown/shutdownsequence.h"

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
class QAction;
class QMenu;
class QTimer;
class DesktopAutomation;
class DesktopNotifier;
class OpenDocumentSaver;
class ShutdownInhibitor;
class SmartHomeMsg;

// The four times as the settings dialog saw them when it was last accepted.
struct TimesSnapshot
{
    int Utility_time = 0;
    int Bat_time = 0;
    int UPS_time = 0;
    int AlarmBox_time = 0;
};

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
    void bt_set_clicked();
    void bt_close_clicked();
    void ShowMessageClicked();
    void bt_log_clicked();
    void timerslots();
    // A trap or a poll answer changed the status: shown, logged and counted down at
    // once, not at the next tick.
    void statusChangedSlot();
    void logClickSlots();
    void bt_about_clicked();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void initialise();
    void initSnmpSession();
    void releaseSnmpSession();
    void buildStatusBar();
    void configureForm();
    void createTrayIcon();
    void showTrayIcon();
    // blink: the tick alternates the connected pictures; a refresh between ticks keeps them.
    void showStatus(bool blink = true);
    void evaluateConditions();
    void updateCountdownDisplay(const CountdownTick &tick);
    void showCountdownLabel(const CountdownTick &tick);
    void showAlarmPopup(const CountdownTick &tick);
    void closeAlarmPopup();
    ShutdownResult shutdownSystem(bool runPass);
    void flushPendingEvents();
    // refusal: the reason of a refused power-off among the events, for its notification.
    void showFlushed(const std::optional<FlushResult> &flushed, const QString &refusal = QString());
    void endOnSignal(int signalNumber);
    void prepareForShutdown();
    void notifyEvents(const QList<LogEvent> &events, const QString &refusal);
    void showClock(const QString &format);
    void fillRecentModel(const QList<LogRow> &rows, const QString &ipHeader);

    std::unique_ptr<Ui::MainWindow> ui;
    snmp_thread pollThread;
    QTimer *tickTimer = nullptr;
    QLabel *clockLabel = nullptr;
    QLabel *stateLabel = nullptr;
    QLabel *countdownLabel = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *minimizeAction = nullptr;
    QAction *maximizeAction = nullptr;
    QAction *restoreAction = nullptr;
    QAction *quitAction = nullptr;
    int blinkPhase = 0;
    StatusView shownStatus;
    QString trayToolTip;
    bool noTrayMessageShown = false;

    Countdown countdown;
    std::unique_ptr<SmartHomeMsg> alarmPopup;
    bool timesSnapshotPending = true;
    TimesSnapshot timesSnapshot;
    std::unique_ptr<DesktopAutomation> desktop;
    std::unique_ptr<OpenDocumentSaver> saver;
    std::unique_ptr<ShutdownSequence> shutdownSequence;
    AccessibilitySwitch accessibility;
    ShutdownInhibitor *shutdownInhibitor = nullptr;
    QStandardItemModel *recentModel = nullptr;
    std::unique_ptr<LogDialog> logDialog;
    std::unique_ptr<DesktopNotifier> notifier;
};

#pragma once

#include "snmp/snmpthread.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <memory>

namespace Ui {
class MainWindow;
}
class QLabel;
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
    void timerslots();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void initialise();
    void initSnmpSession();
    void releaseSnmpSession();
    void buildStatusBar();
    void configureForm();
    void showStatus();

    std::unique_ptr<Ui::MainWindow> ui;
    snmp_thread pollThread;
    QTimer *tickTimer = nullptr;
    QLabel *clockLabel = nullptr;
    QLabel *stateLabel = nullptr;
    QLabel *countdownLabel = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    int blinkPhase = 0;
    QString trayToolTip;
};

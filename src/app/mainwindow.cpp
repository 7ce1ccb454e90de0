#include "mainwindow.h"

#include "app/language.h"
#include "config/params.h"
#include "config/settingsdialog.h"
#include "eventlog/logdialog.h"
#include "eventlog/logstore.h"
#include "model/logevent.h"
#include "model/statusview.h"
#include "model/upsstatus.h"
#include "platform/desktopautomation.h"
#include "platform/desktopnotifier.h"
#include "platform/poweroff.h"
#include "platform/shutdowninhibitor.h"
#include "platform/signalwatcher.h"
#include "platform/trayhostwatcher.h"
#include "shutdown/closedialog.h"
#include "shutdown/opendocumentsaver.h"
#include "shutdown/smarthomemsg.h"
#include "snmp/snmpengine.h"
#include "snmp/usmusers.h"
#include "ui_mainwindow.h"
#include "widgets/aboutdialog.h"
#include "widgets/btnwidget.h"
#include "widgets/messagebox.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {
const QString whiteBackground = QStringLiteral("background-color: rgb(255, 255, 255);");

void setTextColour(QWidget *w, const QColor &colour)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

void setLamp(QLabel *label, const QString &picture)
{
    label->setPixmap(QPixmap(picture));
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), notifier(createDesktopNotifier())
{
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QBrush(QPixmap(QStringLiteral(":/file/images/background.png"))));
    setPalette(pal);
    ui->setupUi(this);
    statusBar()->setSizeGripEnabled(false);
    initialise();
    applyAutoStart();
    connect(&pollThread, &snmp_thread::statusChanged, this, &MainWindow::statusChangedSlot);
    pollThread.start();

    logDialog = std::make_unique<LogDialog>();
    logDialog->setWindowTitle(tr("Event Log"));
    logDialog->setWindowFlags(Qt::WindowCloseButtonHint);
    logDialog->setWindowIcon(QIcon(QStringLiteral(":/file/images/log.png")));
    connect(logDialog.get(), &LogDialog::cleanLog, this, &MainWindow::logClickSlots);
    connect(this, &MainWindow::refreshLog, logDialog.get(), &LogDialog::insertLog);
    connect(ui->bt_log, &BtnWidget::clicked, this, &MainWindow::bt_log_clicked);
    desktop = createDesktopAutomation();
    saver = std::make_unique<OpenDocumentSaver>(*desktop);
    shutdownSequence = std::make_unique<ShutdownSequence>(createPowerOff(), [this] { saver->closeApplications(); });
    // Applications expose their dialogs only when accessibility is on as they start.
    if (params.exte_save)
        accessibility.switchOn();

    // A logout, a shutdown by someone else, Ctrl-C: the end of the session, not a
    // question to the user.
    auto *watcher = new SignalWatcher({SIGTERM, SIGINT, SIGHUP}, this);
    connect(watcher, &SignalWatcher::received, this, &MainWindow::endOnSignal);
    shutdownInhibitor = new ShutdownInhibitor(
        QStringLiteral("Voltiguard"), QStringLiteral("Writing the UPS event log before the machine goes down"), this);
    connect(shutdownInhibitor, &ShutdownInhibitor::prepareForShutdown, this, &MainWindow::prepareForShutdown);
}

MainWindow::~MainWindow()
{
    pollThread.stop();
    pollThread.exit(0);
    pollThread.wait();
    // What the polling thread queued after the last tick.
    QString ip;
    {
        QReadLocker locker(&snmpParamLock);
        ip = params.ip;
    }
    writePendingEvents(ip);
    releaseSnmpSession();
}

void MainWindow::endOnSignal(int signalNumber)
{
    Q_UNUSED(signalNumber);
    // Ends modal dialogs' loops too; the destructor stops polling and writes the log.
    QCoreApplication::exit(0);
}

void MainWindow::prepareForShutdown()
{
    flushPendingEvents();
    shutdownInhibitor->release();
}

void MainWindow::initialise()
{
    buildEventTexts();
    initSnmpSession();
    loadParams();

    tickTimer = new QTimer(this);
    connect(tickTimer, &QTimer::timeout, this, &MainWindow::timerslots);
    tickTimer->start(1000);

    buildStatusBar();
    configureForm();
    createTrayIcon();
    setWindowTitle(appTitle);
    upsStatus.reset();
    showStatus();
    logClickSlots();
    ui->td_ip->setText(params.ip);
}

void MainWindow::initSnmpSession()
{
    if (!openSnmpSession())
        MessageBox::warning(this, tr("Warnning"), tr("SNMP Create Fail!"));
}

void MainWindow::releaseSnmpSession()
{
    closeSnmpSession();
}

void MainWindow::buildStatusBar()
{
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item{border: 0px;}"));
    auto makeLabel = [this](int minWidth) {
        auto *label = new QLabel(this);
        label->setFrameShape(QFrame::NoFrame);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumSize(minWidth, 20);
        return label;
    };
    clockLabel = makeLabel(200);
    countdownLabel = makeLabel(200);
    stateLabel = makeLabel(150);
    statusBar()->addWidget(clockLabel);
    statusBar()->addWidget(countdownLabel);
    statusBar()->addPermanentWidget(stateLabel);
    countdownLabel->hide();
    showClock(QStringLiteral("yyyy-MM-dd hh:mm:ss dddd"));
    stateLabel->setText(tr("ready connect!"));
}

void MainWindow::configureForm()
{
    ui->td_ip->setFocusPolicy(Qt::NoFocus);
    const struct
    {
        BtnWidget *button;
        QLabel *label;
        QString caption;
        const char *skin;
        int y;
    } buttons[] = {
        {ui->bt_set, ui->label_set, tr("Settings"), "set", 35},
        {ui->bt_close, ui->label_close, tr("Close"), "close", 138},
        {ui->bt_log, ui->label_log, tr("Log"), "log", 239},
        {ui->bt_about, ui->label_about, tr("Help"), "about", 340},
    };
    const int captionY[] = {85, 195, 303, 405};
    int i = 0;
    for (const auto &b : buttons) {
        b.button->setGeometry(-10, b.y, 173, 123);
        b.button->setCaption(b.caption);
        b.button->setSkin(QLatin1String(b.skin));
        b.label->setText(b.caption);
        b.label->setGeometry(25, captionY[i++], 100, 60);
        b.label->hide();
    }
    connect(ui->bt_about, &BtnWidget::clicked, this, &MainWindow::bt_about_clicked);
    connect(ui->bt_set, &BtnWidget::clicked, this, &MainWindow::bt_set_clicked);
    connect(ui->bt_close, &BtnWidget::clicked, this, &MainWindow::bt_close_clicked);

    ui->label_utility->setText(eventText(UtilityFail));
    ui->label_battery->setText(eventText(BatteryLow));
    ui->label_ups->setText(eventText(UpsFail));
    ui->label_utility->setGeometry(205, 195, 120, 50);
    ui->label_battery->setGeometry(365, 195, 120, 50);
    ui->label_ups->setGeometry(530, 195, 120, 50);
    ui->state_utility->setGeometry(165, 200, 30, 30);
    ui->state_battery->setGeometry(325, 200, 60, 60);
    ui->state_ups->move(490, 200);
    for (QLabel *lamp : {ui->state_utility, ui->state_battery, ui->state_ups}) {
        // The battery lamp's label is larger than the lamp; keep all three on one line.
        lamp->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setLamp(lamp, QStringLiteral(":/file/images/grey.png"));
    }
    ui->stateicon->resize(200, 62);
    ui->stateicon->setPixmap(QPixmap(QStringLiteral(":/file/images/connect_normal.png")));
    ui->group_internet->setGeometry(175, 115, 450, 53);
    ui->groupBox_state->setGeometry(175, 168, 450, 61);
    ui->label->move(173, 250);

    QTableView *table = ui->tableView;
    table->setGeometry(175, 270, 450, 172);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section {background-color:rgb(70,163,255);color:rgb(255,255,255);"
                       "padding-left: 1px;border: 1px solid #6c6c6c;font: 12pt;};"));
    table->horizontalHeader()->setFixedHeight(20);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void MainWindow::createTrayIcon()
{
    auto makeAction = [this](const QString &text, const char *icon) {
        return new QAction(QIcon(QLatin1String(icon)), text, this);
    };
    minimizeAction = makeAction(tr("Minimize(&N)"), ":/file/images/gtk-remove.png");
    maximizeAction = makeAction(tr("Maximize(&X)"), ":/file/images/gtk-add.png");
    restoreAction = makeAction(tr("Resume(&R)"), ":/file/images/gtk-fullscreen.png");
    quitAction = makeAction(tr("Exit(&Q)"), ":/file/images/stop.png");
    connect(minimizeAction, &QAction::triggered, this, &QWidget::hide);
    connect(maximizeAction, &QAction::triggered, this, &QWidget::showMaximized);
    connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);
    // exit(), not quit(): Qt 6's quit() first sends every window a close event, and
    // the main window would then ask its exit question.
    connect(quitAction, &QAction::triggered, this, [] { QCoreApplication::exit(0); });

    // A separate popup; Qt 6 has no desktop widget to parent it to.
    trayMenu = new QMenu(this);
    trayMenu->addAction(minimizeAction);
    trayMenu->addAction(maximizeAction);
    trayMenu->addAction(restoreAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
    trayToolTip = appTitle + tr(",Agent Lost Connect!");

    // The icon only once a tray host runs, which at login often comes after the
    // autostarted program: Qt picks its kind of tray icon when the first is made.
    auto *trayHost = new TrayHostWatcher(this);
    connect(trayHost, &TrayHostWatcher::hostAvailable, this, &MainWindow::showTrayIcon);
    trayHost->start();
}

void MainWindow::showTrayIcon()
{
    const QString icon =
        shownStatus.trayIcon.isEmpty() ? QStringLiteral(":/file/images/offline_1.PNG") : shownStatus.trayIcon;
    trayIcon = new QSystemTrayIcon(QIcon(icon), this);
    trayIcon->setToolTip(trayToolTip);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        showNormal();
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() != QEvent::WindowStateChange) {
        QMainWindow::changeEvent(event);
        return;
    }
    if (!isMinimized()) {
        // The note on the missing notification area stays a while after the window is back.
        if (!statusBar()->currentMessage().isEmpty())
            QTimer::singleShot(10000, statusBar(), &QStatusBar::clearMessage);
        return;
    }
    if (!isActiveWindow())
        return;
    // Qt is asked only once the icon exists: its first answer would fix its kind of tray.
    if (!trayIcon || !trayIcon->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        // Minimised normally, so the window stays in the task list.
        event->accept();
        if (!noTrayMessageShown) {
            noTrayMessageShown = true;
            statusBar()->showMessage(tr("No notification area: minimised to the task list"));
        }
        return;
    }
    trayIcon->showMessage(appTitle, tr("running as tray!"), QSystemTrayIcon::Information, 1000);
    // Hidden once the state change has been processed.
    QTimer::singleShot(0, this, &QWidget::hide);
    event->ignore();
}

void MainWindow::showStatus(bool blink)
{
    const LampSwitches switches{params.Utility_para, params.Bat_para, params.UPS_para};
    // The phase the last tick showed, so that nothing blinks off the tick.
    int shownPhase = 1 - blinkPhase;
    const StatusView v = statusView(upsStatus.snapshot(), switches, blink ? blinkPhase : shownPhase);
    // Runs every second: only what changed is handed to the widgets, so a steady
    // state costs no repaint.
    const StatusView &old = shownStatus;
    if (v.stateText != old.stateText)
        stateLabel->setText(v.stateText);
    if (v.colour != old.colour) {
        setTextColour(ui->td_ip, v.colour);
        setTextColour(stateLabel, v.colour);
    }
    if (v.picture != old.picture || v.pictureSize != old.pictureSize) {
        QPixmap picture(v.picture);
        if (v.pictureSize.isValid())
            picture = picture.scaled(v.pictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        ui->stateicon->setPixmap(picture);
    }
    if (v.utilityLamp != old.utilityLamp)
        setLamp(ui->state_utility, v.utilityLamp);
    if (v.batteryLamp != old.batteryLamp)
        setLamp(ui->state_battery, v.batteryLamp);
    if (v.upsLamp != old.upsLamp)
        setLamp(ui->state_ups, v.upsLamp);
    trayToolTip = v.toolTip;
    if (trayIcon) {
        if (v.trayIcon != old.trayIcon)
            trayIcon->setIcon(QIcon(v.trayIcon));
        if (v.toolTip != old.toolTip)
            trayIcon->setToolTip(trayToolTip);
    }
    shownStatus = v;
}

void MainWindow::timerslots()
{
    showClock(QStringLiteral("yyyy-MM-dd hh:mm:ss ddd"));
    showStatus();
    flushPendingEvents();

    // The countdown comes last: a shutdown it starts follows everything above.
    evaluateConditions();
}

void MainWindow::showClock(const QString &format)
{
    // The day name in the language of the interface, not in the C locale's English.
    clockLabel->setText(uiLocale().toString(QDateTime::currentDateTime(), format));
}

void MainWindow::statusChangedSlot()
{
    showStatus(false);
    flushPendingEvents();
    showCountdownLabel(countdown.preview(upsStatus.snapshot(), params));
}

void MainWindow::evaluateConditions()
{
    CountdownTick tick = countdown.evaluateConditions(upsStatus.snapshot(), params);
    if (tick.requestShutdown) {
        const ShutdownResult result = shutdownSystem(tick.runPass);
        countdown.powerOffAnswered(result.powerOff.accepted, tick);
        if (!result.powerOff.accepted) {
            std::fprintf(stderr, "voltiguard: the power-off was refused: %s; asking again in %d s\n",
                         qPrintable(result.powerOff.reason), Countdown::retryTicks);
        }
        showFlushed(result.flushed, result.powerOff.reason);
    }
    updateCountdownDisplay(tick);
    if (params.Notify_para) {
        for (const QString &condition : tick.countdownsStarted)
            notifier->notify(appTitle, condition + QLatin1Char('\n') + tick.labelText(), NotificationUrgency::Critical);
    }
}

void MainWindow::showCountdownLabel(const CountdownTick &tick)
{
    countdownLabel->setVisible(tick.display != CountdownDisplay::Hidden);
    countdownLabel->setText(tick.labelText());
    setTextColour(countdownLabel, tick.display == CountdownDisplay::Idle ? Qt::darkGreen : Qt::red);
}

void MainWindow::updateCountdownDisplay(const CountdownTick &tick)
{
    showCountdownLabel(tick);
    if (tick.display == CountdownDisplay::Hidden) {
        closeAlarmPopup();
        return;
    }
    showAlarmPopup(tick);
    if (tick.startExternalProgram)
        QProcess::startDetached(params.exte_param, {});
}

void MainWindow::showAlarmPopup(const CountdownTick &tick)
{
    switch (tick.popup) {
    case PopupAction::None:
        return;
    case PopupAction::Close:
        closeAlarmPopup();
        return;
    case PopupAction::Refresh:
        if (alarmPopup)
            alarmPopup->setCountdownText(tick.alarmText, tick.timeLeft());
        return;
    case PopupAction::Create:
        alarmPopup = std::make_unique<SmartHomeMsg>(tr("Alarm Prompt Dialog"), QString());
        alarmPopup->setCountdownText(tick.alarmText, tick.timeLeft());
        connect(alarmPopup.get(), &SmartHomeMsg::CloseBtn_clicked, this, &MainWindow::ShowMessageClicked);
        alarmPopup->setVisible(true);
        return;
    }
}

void MainWindow::closeAlarmPopup()
{
    alarmPopup.reset();
    countdown.popupClosed();
}

void MainWindow::ShowMessageClicked()
{
    if (alarmPopup) {
        // Deleted later: the popup is still inside its own signal emission here.
        disconnect(alarmPopup.get(), nullptr, this, nullptr);
        alarmPopup.release()->deleteLater();
    }
    countdown.popupDismissed();
}

ShutdownResult MainWindow::shutdownSystem(bool runPass)
{
    return shutdownSequence->shutdownSystem(runPass);
}

void MainWindow::bt_set_clicked()
{
    if (timesSnapshotPending) {
        timesSnapshotPending = false;
        timesSnapshot = {params.Utility_time, params.Bat_time, params.UPS_time, params.AlarmBox_time};
    }

    // Without a usable session there is no engine; the users are then edited from
    // the file, so that saving with SNMPv3 does not write an empty table over it.
    UsmUserTable fileUsers;
    UsmUserTable *users = snmpV3 ? &snmpV3->usm() : &fileUsers;
    if (!snmpV3)
        fileUsers.load(usmUsersFilePath());

    SettingsDialog dialog(*users);
    dialog.setWindowTitle(tr("Settings"));
    dialog.setWindowFlags(Qt::WindowCloseButtonHint);
    dialog.setWindowIcon(QIcon(QStringLiteral(":/file/images/set.png")));
    if (dialog.exec() != QDialog::Accepted)
        return;

    const struct
    {
        int value;
        int &snapshot;
    } times[] = {{params.Utility_time, timesSnapshot.Utility_time},
                 {params.Bat_time, timesSnapshot.Bat_time},
                 {params.UPS_time, timesSnapshot.UPS_time},
                 {params.AlarmBox_time, timesSnapshot.AlarmBox_time}};
    for (const auto &t : times) {
        if (t.value == t.snapshot)
            continue;
        t.snapshot = t.value;
        if (alarmPopup)
            closeAlarmPopup();
    }
    {
        QReadLocker locker(&snmpParamLock);
        ui->td_ip->setText(params.ip);
    }
    applyAutoStart();
    saveParams();
    // Document saving switched on now reaches the applications started from here on.
    if (params.exte_save)
        accessibility.switchOn();
}

void MainWindow::bt_close_clicked()
{
    CloseDialog dialog;
    dialog.setWindowTitle(tr("Close File"));
    dialog.setWindowFlags(Qt::WindowCloseButtonHint);
    dialog.setWindowIcon(QIcon(QStringLiteral(":/file/images/close.png")));
    dialog.exec();
}

void MainWindow::flushPendingEvents()
{
    QString ip;
    {
        QReadLocker locker(&snmpParamLock);
        ip = params.ip;
    }
    showFlushed(writePendingEvents(ip));
}

void MainWindow::showFlushed(const std::optional<FlushResult> &flushed, const QString &refusal)
{
    if (!flushed)
        return;
    notifyEvents(flushed->events, refusal);
    if (flushed->newest)
        fillRecentModel(*flushed->newest, tr("IP"));
    if (logDialogOpen)
        emit refreshLog();
}

void MainWindow::notifyEvents(const QList<LogEvent> &events, const QString &refusal)
{
    if (!params.Notify_para)
        return;
    for (const LogEvent &event : events) {
        QString body = eventText(event.id);
        // The administrator has to act on the reason: name it.
        if (event.id == ShutdownFailed && !refusal.isEmpty())
            body += QLatin1Char('\n') + refusal;
        notifier->notify(appTitle, body,
                         eventIsCritical(event.id) ? NotificationUrgency::Critical : NotificationUrgency::Normal);
    }
}

void MainWindow::logClickSlots()
{
    const bool first = !recentModel;
    if (first)
        recentModel = new QStandardItemModel(this);
    const std::optional<QList<LogRow>> rows = LogDatabase(LogDatabase::viewConnection).newestRows(recentEventCount);
    // A log that cannot be read leaves the table as it was; the very first time it gets its headers.
    if (rows || first)
        fillRecentModel(rows.value_or(QList<LogRow>()), tr("ip"));
}

void MainWindow::fillRecentModel(const QList<LogRow> &rows, const QString &ipHeader)
{
    recentModel->clear();
    recentModel->setColumnCount(3);
    recentModel->setHeaderData(0, Qt::Horizontal, tr("Date/Time"), Qt::EditRole);
    recentModel->setHeaderData(1, Qt::Horizontal, ipHeader, Qt::EditRole);
    recentModel->setHeaderData(2, Qt::Horizontal, tr("Event"), Qt::EditRole);
    for (const LogRow &row : rows)
        recentModel->appendRow({new QStandardItem(row.time), new QStandardItem(row.ip), new QStandardItem(row.event)});
    ui->tableView->setModel(recentModel);
    ui->tableView->setColumnWidth(0, 150);
}

void MainWindow::bt_log_clicked()
{
    logDialogOpen = true;
    logDialog->initView();
    logDialog->exec();
    // The dialog is only ever closed (result 0), so the flag always drops here.
    logDialogOpen = false;
}

void MainWindow::bt_about_clicked()
{
    AboutDialog dialog;
    dialog.setWindowTitle(tr("Help"));
    dialog.setWindowFlags(Qt::WindowCloseButtonHint);
    dialog.setWindowIcon(QIcon(QStringLiteral(":/file/images/about.png")));
    dialog.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QMessageBox box(QMessageBox::Warning, tr("Exit"), tr("Do you want to exit Voltiguard?"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setStyleSheet(whiteBackground);
    box.setDefaultButton(QMessageBox::Yes);
    if (MessageBox::exec(box) == QMessageBox::Yes)
        event->accept();
    else
        event->ignore();
}

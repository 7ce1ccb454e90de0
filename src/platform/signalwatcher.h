#pragma once

#include <QList>
#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns Unix signals into a Qt signal on the thread that created the watcher: the
// handler only writes the signal's number into a pipe, and the event loop reads it
// there (a handler may do nothing else safely). Meant to be one per process; the
// signals get their default action back when the last watcher is destroyed.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QList<int> m_signals;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

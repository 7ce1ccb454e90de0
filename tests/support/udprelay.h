#pragma once

#include <QSemaphore>
#include <QThread>

// A UDP relay on 127.0.0.1 in front of an agent that holds every datagram back for a
// fixed time, both ways: a slow link, as far as the client can tell. It runs on its own thread,
// so a test that blocks its own keeps the link going.
class UdpRelay : public QThread
{
public:
    UdpRelay(quint16 agentPort, int delayMs);
    ~UdpRelay() override;
    quint16 port() const { return m_port; }

protected:
    void run() override;

private:
    const quint16 m_agentPort;
    const int m_delayMs;
    quint16 m_port = 0;
    QSemaphore m_ready;
};

#include "udprelay.h"

#include <QHash>
#include <QTimer>
#include <QUdpSocket>
#include <memory>

UdpRelay::UdpRelay(quint16 agentPort, int delayMs) : m_agentPort(agentPort), m_delayMs(delayMs)
{
    start();
    m_ready.acquire();
}

UdpRelay::~UdpRelay()
{
    quit();
    wait();
}

void UdpRelay::run()
{
    QUdpSocket front;
    front.bind(QHostAddress::LocalHost, 0);
    m_port = front.localPort();
    // One upstream socket per client, so that answers find their way back.
    QHash<quint16, std::shared_ptr<QUdpSocket>> upstream;
    QObject::connect(&front, &QUdpSocket::readyRead, [&] {
        while (front.hasPendingDatagrams()) {
            quint16 client = 0;
            QByteArray data(int(front.pendingDatagramSize()), 0);
            front.readDatagram(data.data(), data.size(), nullptr, &client);
            std::shared_ptr<QUdpSocket> &up = upstream[client];
            if (!up) {
                up = std::make_shared<QUdpSocket>();
                up->bind(QHostAddress::LocalHost, 0);
                QUdpSocket *raw = up.get();
                QObject::connect(raw, &QUdpSocket::readyRead, [this, &front, raw, client] {
                    while (raw->hasPendingDatagrams()) {
                        QByteArray answer(int(raw->pendingDatagramSize()), 0);
                        raw->readDatagram(answer.data(), answer.size());
                        QTimer::singleShot(m_delayMs, [&front, answer, client] {
                            front.writeDatagram(answer, QHostAddress::LocalHost, client);
                        });
                    }
                });
            }
            QTimer::singleShot(m_delayMs,
                               [up, data, this] { up->writeDatagram(data, QHostAddress::LocalHost, m_agentPort); });
        }
    });
    m_ready.release();
    exec();
}

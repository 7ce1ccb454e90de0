// Flushes batches of events into log.db in the data directory argv[1], a line after each commit.

#include "config/datadir.h"
#include "eventlog/logstore.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    setDataDir(QString::fromLocal8Bit(argv[1]));
    buildEventTexts();
    const int batch = QByteArray(argv[2]).toInt();
    // Bounded, so that a helper a test failed to kill does not run for long.
    for (int n = 0; n < 20000; ++n) {
        QList<LogEvent> events;
        for (int i = 0; i < batch; ++i)
            events.append({timeText(), i % 11});
        queueEvents(events);
        const std::optional<FlushResult> result = writePendingEvents(QStringLiteral("127.0.0.1"));
        if (!result || !result->written)
            return 1;
        std::puts("flushed");
        std::fflush(stdout);
    }
    return 0;
}

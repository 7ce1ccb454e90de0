// Flushes batches of queued events into log.db in the given data directory until it is killed,
// reporting each committed batch on standard output.

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
    const int batch = QByteArray(argv[2]).toInt();
    buildEventTexts();
    // Bounded, so a test that fails to kill it does not leave it running for long.
    for (int n = 1; n <= 20000; ++n) {
        QList<LogEvent> events;
        for (int i = 0; i < batch; ++i)
            events.append({timeText(), i % 11});
        queueEvents(events);
        const std::optional<FlushResult> result = writePendingEvents(QStringLiteral("127.0.0.1"));
        if (!result || !result->written)
            return 1;
        std::printf("flushed %d\n", n);
        std::fflush(stdout);
    }
    return 0;
}

#pragma once

#include <QString>

// Syslog priorities, as journald reads them from a "<N>" line prefix.
enum class JournalPriority
{
    Err = 3,
    Warning = 4,
    Notice = 5,
    Info = 6
};

// One line for the system log on standard error. When standard error is the
// journal stream systemd set up for the service (JOURNAL_STREAM names it), the line
// starts with "<N>" and journald files it with that priority; elsewhere (a terminal,
// a file) it starts with the program's name instead. Line breaks in the text are
// folded, so one call is one entry. Safe from any thread.
void journal(JournalPriority priority, const QString &text);

// True when standard error is the journal stream; decided once.
bool stderrIsJournal();

#pragma once

#include <optional>

// The options that work without a display: --help and --version print their text
// on standard output and give the exit code; anything else is left to Qt (-platform,
// -session from a session manager, ...) and yields no exit code.
std::optional<int> handleInfoOptions(int argc, char *argv[]);

// Turns Qt's abort when no display can be opened into one clear line on standard
// error and exit code 1. Active until releaseDisplayGuard().
void installDisplayGuard();
void releaseDisplayGuard();

#pragma once

#include <QString>

// Where the application's own files live. A portable install keeps them all in
// one directory; an installed program spreads them over the XDG base directories.
struct DataLocations
{
    QString configDir; // param.ini, usm_users.bin
    QString stateDir;  // log.db, close_file.db, snmpv3_boot_counter
    QString saveDir;   // "Temp": documents saved before a shutdown when no directory is set

    // Everything in dir, the save directory as its Temp.
    static DataLocations portable(const QString &dir);
    // $XDG_CONFIG_HOME/voltiguard, $XDG_STATE_HOME/voltiguard, $XDG_DATA_HOME/voltiguard/Temp.
    static DataLocations userDirs();
    bool operator==(const DataLocations &other) const;
};

// The rule: portable when a param.ini already exists beside the program (but never
// in a system program directory such as /usr/bin), else the installed locations.
DataLocations chooseDataLocations(const QString &appDir, const DataLocations &installed);
// The single directory that versions before the XDG layout used.
QString legacyDataDir(const QString &appDir);
// Creates the directories owner-only and moves the files of the legacy directory
// into them; a file that already exists at its new place is left where it was.
void prepareDataLocations(const DataLocations &locations, const QString &legacyDir);

// The locations of this process: chosen, created and migrated on first use.
DataLocations dataLocations();
void setDataLocations(const DataLocations &locations);
// Tests: one fresh directory for everything (a portable install).
void setDataDir(const QString &dir);

QString configFilePath(const QString &name);
QString stateFilePath(const QString &name);
// The save directory, created owner-only when missing.
QString documentSaveDir();

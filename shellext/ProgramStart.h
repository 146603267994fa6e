// What both menus do to start the program: where it is (the registry), the list of the
// selected files it is handed, and the start itself, now or ten seconds later.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "MenuTable.h"

namespace shlext {

// Reads %AppData%, where the program's data folder is, for later starts.
void ReadAppDataFolder();

// VantrelPath and VantrelDir from HKLM, then HKCU, whose values replace those found
// under HKLM. The program path is kept for the process; programDir is set only where a
// value is found.
void ReadProgramLocation(std::wstring& programDir);

// Writes the files into a new list file in TEMP (see ListFile.h), which the next start
// hands over.
void WriteListFile(const std::vector<std::wstring>& files);

// Starts the program for the command with the last list written; false for a kind that
// starts nothing. Never waits and never shows a message.
bool StartCommand(const MenuCommand& command);

// Starts the program with "-ad" ten seconds from now, on this thread's timer.
void StartDelayedLaunch();

}  // namespace shlext

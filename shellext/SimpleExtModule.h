// The module of the in-process server: its instance handle, the lock count that
// DllCanUnloadNow reports, and the process-wide state the objects share.
#pragma once

#include <windows.h>

#include <string>

namespace shlext {

extern HINSTANCE g_hInstance;

// The full path of this DLL; empty when it cannot be read.
std::wstring ModulePath();

// Module locks: one per live object and one per IClassFactory::LockServer(TRUE).
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// Guards the process-wide values shared by objects of different apartments.
class GlobalsLock {
public:
    GlobalsLock();
    ~GlobalsLock();
    GlobalsLock(const GlobalsLock&) = delete;
    GlobalsLock& operator=(const GlobalsLock&) = delete;
};

// Frees what the objects left for the process (the menu pictures' list) at unload.
void ReleaseProcessData();

}  // namespace shlext

// kelvane: opens cmd.exe in a target folder. The routines of the launcher.
#pragma once

#include <windows.h>
#include <ole2.h>

// A target path: 999 units of text and the terminator.
constexpr int kTargetPathUnits = 1000;

// The console command line; the longest target path leaves it far below this.
constexpr int kCommandLineUnits = 2000;

// The variable through which a network folder that cannot be written on the
// command line reaches the interpreter, which expands it once and removes it.
constexpr wchar_t kFolderVariable[] = L"KELVANE_FOLDER";

// How the folder reaches the interpreter besides its command line.
enum FolderHandover {
    kFolderInCommand,    // the command line names the folder itself
    kFolderAsDirectory,  // the folder is the interpreter's starting directory
    kFolderInVariable,   // the command line reads the folder from kFolderVariable
};

// Starts cmd.exe with targetPath, an existing folder, as its current folder.
// Reports nothing; a failed start shows nothing.
void OpenConsoleIn(const wchar_t *targetPath);

// Whether the interpreter can enter targetPath: it keeps its current folder in a
// buffer of MAX_PATH units, with a trailing backslash and the terminator.
bool CanOpenConsoleIn(const wchar_t *targetPath);

// Fills commandLine (kCommandLineUnits) with the interpreter's command line for
// targetPath. Unless the command names the folder itself, fills folder
// (kTargetPathUnits) with the folder to hand over as the result says; otherwise
// leaves it empty.
FolderHandover BuildConsoleCommand(const wchar_t *targetPath, wchar_t *commandLine, wchar_t *folder);

// The object library's routines. ole32 serves only the shortcut and dialog
// roads, so it is not among the program's imports: LoadObjectLibrary loads it
// on those roads, and a launch from a folder argument never loads it, nor what
// it brings with it. (The toolchain's delay-load libraries are broken for x86.)
struct ObjectLibrary {
    decltype(&::OleInitialize) Initialize;
    decltype(&::OleUninitialize) Uninitialize;
    decltype(&::CoCreateInstance) CreateInstance;
    decltype(&::CoTaskMemFree) TaskMemFree;
};
extern ObjectLibrary gObjectLibrary;

// Fills gObjectLibrary from the system folder's ole32.dll; false if it cannot.
bool LoadObjectLibrary();

// Writes the long form of the shortcut's target into targetPath (kTargetPathUnits).
// The caller has loaded the object library and initialised it on this thread.
bool ResolveShortcut(const wchar_t *linkPath, wchar_t *targetPath);

// Asks for a folder with the browse dialog and opens the console there.
void PickTargetFolder();

// Shows "It is not a folder" and ends the process with exit code 0.
[[noreturn]] void FailNotAFolder();

// The libraries that only some roads need. None is imported: each road loads
// what it needs, from the system folder only, when it first needs it, so a
// launch from a folder loads nothing but the kernel and the C runtime. (The
// toolchain's delay-load libraries are broken for x86.) Each routine here is
// all a road needs of its library; each loader fills its table or fails.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winnetwk.h>

// user32: the one message.
struct WindowLibrary {
    decltype(&::MessageBoxW) ShowMessage;
};

// shell32: the folder dialog, starting kelvane elevated, and the platform's
// command-line splitter.
struct ShellLibrary {
    decltype(&::SHBrowseForFolderW) BrowseForFolder;
    decltype(&::SHGetPathFromIDListEx) GetPathFromItemList;
    decltype(&::ShellExecuteExW) Execute;
    decltype(&::CommandLineToArgvW) SplitCommandLine;
};

// ole32: the apartment the shell's objects and dialog need, and the link
// object.
struct ObjectLibrary {
    decltype(&::OleInitialize) Initialize;
    decltype(&::OleUninitialize) Uninitialize;
    decltype(&::CoCreateInstance) CreateInstance;
    decltype(&::CoTaskMemFree) TaskMemFree;
};

// mpr: the network shares drive letters stand for.
struct NetworkLibrary {
    decltype(&::WNetGetConnectionW) GetConnection;
};

bool LoadWindowLibrary(WindowLibrary &library);
bool LoadShellLibrary(ShellLibrary &library);
bool LoadObjectLibrary(ObjectLibrary &library);
bool LoadNetworkLibrary(NetworkLibrary &library);

// The only place that loads a library or looks up a routine.
#include "libraries.h"

namespace {

// Only the system folder's copy of a library: never one planted beside the
// program or in the current folder.
HMODULE LoadSystemLibrary(const wchar_t *name)
{
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// GetProcAddress gives a routine of no particular type; the type is the table's.
template <typename Routine>
bool LoadRoutine(HMODULE module, const char *name, Routine &routine)
{
    routine = reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return routine != nullptr;
}

} // namespace

bool LoadWindowLibrary(WindowLibrary &library)
{
    HMODULE module = LoadSystemLibrary(L"user32.dll");
    return module != nullptr && LoadRoutine(module, "MessageBoxW", library.ShowMessage);
}

bool LoadShellLibrary(ShellLibrary &library)
{
    HMODULE module = LoadSystemLibrary(L"shell32.dll");
    return module != nullptr && LoadRoutine(module, "SHBrowseForFolderW", library.BrowseForFolder) &&
           LoadRoutine(module, "SHGetPathFromIDListEx", library.GetPathFromItemList) &&
           LoadRoutine(module, "ShellExecuteExW", library.Execute) &&
           LoadRoutine(module, "CommandLineToArgvW", library.SplitCommandLine);
}

bool LoadObjectLibrary(ObjectLibrary &library)
{
    HMODULE module = LoadSystemLibrary(L"ole32.dll");
    return module != nullptr && LoadRoutine(module, "OleInitialize", library.Initialize) &&
           LoadRoutine(module, "OleUninitialize", library.Uninitialize) &&
           LoadRoutine(module, "CoCreateInstance", library.CreateInstance) &&
           LoadRoutine(module, "CoTaskMemFree", library.TaskMemFree);
}

bool LoadNetworkLibrary(NetworkLibrary &library)
{
    HMODULE module = LoadSystemLibrary(L"mpr.dll");
    return module != nullptr && LoadRoutine(module, "WNetGetConnectionW", library.GetConnection);
}

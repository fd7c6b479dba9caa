// Target selection: the entry, the three roads to a folder, and the one error.
// Each road only finds a candidate path; ExaminePath and StartConsoleIn, joined
// in OpenConsoleIn, decide on the folder.
#include "kelvane.h"

#include <objbase.h>
#include <shlobj.h>
#include <shellapi.h>
#include <wchar.h>

namespace {

// GetProcAddress gives a routine of no particular type; the type is the caller's.
template <typename Routine>
bool LoadRoutine(HMODULE module, const char *name, Routine &routine)
{
    routine = reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return routine != nullptr;
}

// The object library initialised on this thread for as long as the owner lives.
// Owners of what the library hands out are declared after it, so they end first.
class ObjectLibraryApartment {
public:
    explicit ObjectLibraryApartment(const ObjectLibrary &library) : library_(library)
    {
        library_.Initialize(nullptr);
    }
    ObjectLibraryApartment(const ObjectLibraryApartment &) = delete;
    ObjectLibraryApartment &operator=(const ObjectLibraryApartment &) = delete;
    ~ObjectLibraryApartment() { library_.Uninitialize(); }

private:
    const ObjectLibrary &library_;
};

// Owns the browse dialog's item list and frees it with the object library.
class ItemListOwner {
public:
    ItemListOwner(const ObjectLibrary &library, PIDLIST_ABSOLUTE itemList)
        : library_(library), itemList_(itemList)
    {
    }
    ItemListOwner(const ItemListOwner &) = delete;
    ItemListOwner &operator=(const ItemListOwner &) = delete;
    ~ItemListOwner()
    {
        if (itemList_ != nullptr) library_.TaskMemFree(itemList_);
    }

    PIDLIST_ABSOLUTE Get() const { return itemList_; }

private:
    const ObjectLibrary &library_;
    PIDLIST_ABSOLUTE itemList_;
};

// The dialog and the message use the themed common controls (version 6). Only
// those roads need them, so their activation context is made there, from
// manifest resource 2, rather than for every launch by the process manifest.
// Should it fail, the controls are merely unthemed. It lasts until the end.
void UseThemedControls()
{
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = GetModuleHandleW(nullptr);
    context.lpResourceName = MAKEINTRESOURCEW(2);  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
    HANDLE activationContext = CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    if (activationContext != INVALID_HANDLE_VALUE) {
        ActivateActCtx(activationContext, &cookie);
    }
}

// Set only while a shortcut is read: the platform's link reader can fault on a
// damaged file, and such a file is no shortcut, so the user gets the one
// message instead of a crash report. Should the message itself fault, the
// filter runs again and ends the process at once, still with exit code 0.
LONG WINAPI FailOnFault(EXCEPTION_POINTERS *)
{
    static LONG entered = 0;
    if (InterlockedExchange(&entered, 1) != 0) {
        ExitProcess(0);
    }
    FailNotAFolder();
}

// Sets FailOnFault as the process's last exception filter for as long as it lives.
class FaultFilter {
public:
    FaultFilter() : previous_(SetUnhandledExceptionFilter(FailOnFault)) {}
    FaultFilter(const FaultFilter &) = delete;
    FaultFilter &operator=(const FaultFilter &) = delete;
    ~FaultFilter() { SetUnhandledExceptionFilter(previous_); }

private:
    LPTOP_LEVEL_EXCEPTION_FILTER previous_;
};

// Resolves the shortcut file at linkPath, a full path as ExaminePath gives it,
// into targetPath (kTargetPathUnits).
bool ResolveShortcutFile(wchar_t *linkPath, bool redirected, wchar_t *targetPath)
{
    // The file was examined in the native system folder, which this process
    // reaches as Sysnative; the link reader must read that same file.
    wchar_t windows[MAX_PATH];
    if (redirected && GetNativeWindowsFolder(windows) &&
        !ReplaceSystemFolder(linkPath, windows, L"System32", L"Sysnative")) {
        return false;
    }

    ObjectLibrary library;
    if (!LoadObjectLibrary(library)) {
        return false;
    }
    FaultFilter faultFilter;
    ObjectLibraryApartment apartment(library);
    return ResolveShortcut(library, linkPath, targetPath);
}

// The argument names the target folder itself, or a shortcut to it. Its own
// examination decides a folder; a shortcut's target is examined in turn.
bool OpenConsoleForArgument(const wchar_t *argument)
{
    if (wcslen(argument) >= kTargetPathUnits) {
        return false;
    }
    wchar_t fullPath[kTargetPathUnits];
    bool redirected = false;
    wchar_t targetPath[kTargetPathUnits];
    switch (ExaminePath(argument, fullPath, &redirected)) {
    case kFolderPath:
        return StartConsoleIn(fullPath, redirected);
    case kDiskFile:
        // Only the shell-link object tells a shortcut from any other file.
        return ResolveShortcutFile(fullPath, redirected, targetPath) && OpenConsoleIn(targetPath);
    case kNoPath:
        break;
    }
    return false;
}

// The dialog road; the console is started while the item list is held, and
// the list is freed and the library uninitialised after the start.
bool OpenConsoleInPickedFolder()
{
    ObjectLibrary library;
    if (!LoadObjectLibrary(library)) {
        return false;
    }
    ObjectLibraryApartment apartment(library);
    UseThemedControls();

    // The same buffer takes the display name first, then the chosen path.
    wchar_t pickerPath[MAX_PATH];
    BROWSEINFOW bi = {};
    bi.pszDisplayName = pickerPath;
    bi.lpszTitle = L"Select the target folder:";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    ItemListOwner itemList(library, SHBrowseForFolderW(&bi));
    if (itemList.Get() == nullptr) {
        return false;
    }

    // An entry without a file-system path must not be taken for a folder named
    // after its display name.
    if (!SHGetPathFromIDListW(itemList.Get(), pickerPath)) {
        return false;
    }
    return OpenConsoleIn(pickerPath);
}

} // namespace

bool LoadObjectLibrary(ObjectLibrary &library)
{
    // Only the system folder's copy: never one planted beside the program.
    HMODULE ole32 = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return ole32 != nullptr && LoadRoutine(ole32, "OleInitialize", library.Initialize) &&
           LoadRoutine(ole32, "OleUninitialize", library.Uninitialize) &&
           LoadRoutine(ole32, "CoCreateInstance", library.CreateInstance) &&
           LoadRoutine(ole32, "CoTaskMemFree", library.TaskMemFree);
}

[[noreturn]] void FailNotAFolder()
{
    UseThemedControls();
    MessageBoxW(nullptr, L"It is not a folder", L"Kelvane by Tamrik", MB_ICONERROR);
    ExitProcess(0);
}

void PickTargetFolder()
{
    if (!OpenConsoleInPickedFolder()) {
        FailNotAFolder();
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The narrow command line cannot carry every folder name; split the wide one.
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr) {
        FailNotAFolder();
    }
    if (count < 2) {
        PickTargetFolder();
        return 0;
    }

    // A shell that quotes a path ending in a backslash, "C:\", hands over C:"
    // because the splitting rules read \" as a quote. No Windows path holds a
    // quote, so a last quote stands for that backslash.
    wchar_t *argument = args[1];
    size_t length = wcslen(argument);
    if (length > 0 && argument[length - 1] == L'"') {
        argument[length - 1] = L'\\';
    }

    if (!OpenConsoleForArgument(argument)) {
        FailNotAFolder();
    }
    return 0;
}

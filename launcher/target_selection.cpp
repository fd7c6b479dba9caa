// Target selection: the entry, the three roads to a folder, and the one error.
// Each road only finds a candidate path; ExaminePath and StartConsoleIn, joined
// in OpenConsoleIn, decide on the folder.
#include "kelvane.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wchar.h>

namespace {

// The library of the one message, loaded on the roads that may show it.
constexpr wchar_t kMessageLibrary[] = L"user32.dll";

// The libraries that windows need (user32, and shell32, which brings it) cost a
// launch as much again as all else it does, so each road that shows a window
// loads its own, and a launch from a folder argument loads none. The shell's
// folder dialog, for the dialog road:
struct FolderDialog {
    decltype(&::SHBrowseForFolderW) Browse;
    decltype(&::SHGetPathFromIDListW) GetPathFromItemList;
};

bool LoadFolderDialog(FolderDialog &dialog)
{
    HMODULE shell32 = LoadSystemLibrary(kShellLibrary);
    return shell32 != nullptr && LoadRoutine(shell32, "SHBrowseForFolderW", dialog.Browse) &&
           LoadRoutine(shell32, "SHGetPathFromIDListW", dialog.GetPathFromItemList);
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

// Sets FailOnFault as the process's last exception filter for as long as it
// lives. The message's library is loaded first, so that the filter loads none.
class FaultFilter {
public:
    FaultFilter()
    {
        LoadSystemLibrary(kMessageLibrary);
        previous_ = SetUnhandledExceptionFilter(FailOnFault);
    }
    FaultFilter(const FaultFilter &) = delete;
    FaultFilter &operator=(const FaultFilter &) = delete;
    ~FaultFilter() { SetUnhandledExceptionFilter(previous_); }

private:
    LPTOP_LEVEL_EXCEPTION_FILTER previous_ = nullptr;
};

// Resolves the shortcut file at linkPath, a full path as ExaminePath gives it,
// into targetPath (kLinkTargetUnits).
bool ResolveShortcutFile(wchar_t *linkPath, bool redirected, wchar_t *targetPath)
{
    // The file was examined in the native system folder, which this process
    // reaches as Sysnative; the link reader must read that same file.
    wchar_t windows[MAX_PATH];
    if (redirected && GetNativeWindowsFolder(windows) &&
        !ReplaceSystemFolder(linkPath, windows, kSystemFolder, kSystemFolderAlias)) {
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
// Fills folder (kTargetPathUnits) and redirected as ExaminePath fills them.
bool DecideFolder(const wchar_t *argument, wchar_t *folder, bool *redirected)
{
    PathKind kind = ExaminePath(argument, folder, redirected);
    if (kind == kFolderPath) {
        return true;
    }
    // Only the shell-link object tells a shortcut from any other file.
    wchar_t targetPath[kLinkTargetUnits];
    return kind == kDiskFile && ResolveShortcutFile(folder, *redirected, targetPath) &&
           ExaminePath(targetPath, folder, redirected) == kFolderPath;
}

bool OpenConsoleForArgument(const wchar_t *argument)
{
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    return DecideFolder(argument, folder, &redirected) && StartConsoleIn(folder, redirected);
}

// The administrator's road. The folder is decided here, in the user's session,
// and spelled as the elevated session finds it; kelvane itself is started
// elevated with it, and opens the console by the ordinary road. Elevating
// cmd.exe instead would lose its starting directory and the network form's
// variable. Sets declined if the user said no to the elevation.
bool OpenElevatedConsoleFor(const wchar_t *argument, bool *declined)
{
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    wchar_t translated[kTargetPathUnits];
    if (!DecideFolder(argument, folder, &redirected) || !GetElevationFolder(folder, translated)) {
        return false;
    }

    // One argument, quoted; a drive root's separator doubled, so that the
    // closing quote stays a quote.
    wchar_t parameters[kTargetPathUnits + 4];
    size_t length = wcslen(translated);
    _snwprintf(parameters, kTargetPathUnits + 4, L"\"%ls%ls\"", translated,
               translated[length - 1] == L'\\' ? L"\\" : L"");
    wchar_t program[kTargetPathUnits];
    DWORD programLength = GetModuleFileNameW(nullptr, program, kTargetPathUnits);
    if (programLength == 0 || programLength >= kTargetPathUnits) {
        return false;
    }

    // The shell's routine, on this road only, in an apartment as it asks.
    ObjectLibrary library;
    decltype(&::ShellExecuteExW) execute;
    HMODULE shell32 = LoadSystemLibrary(kShellLibrary);
    if (!LoadObjectLibrary(library) || shell32 == nullptr ||
        !LoadRoutine(shell32, "ShellExecuteExW", execute)) {
        return false;
    }
    ObjectLibraryApartment apartment(library);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!execute(&info)) {
        *declined = GetLastError() == ERROR_CANCELLED;
        return false;
    }
    return true;
}

// A shell that quotes a path ending in a backslash, "C:\", hands over C:"
// because the splitting rules read \" as a quote. No Windows path holds a
// quote, so a last quote stands for that backslash.
void RestoreLastSeparator(wchar_t *argument)
{
    size_t length = wcslen(argument);
    if (length > 0 && argument[length - 1] == L'"') {
        argument[length - 1] = L'\\';
    }
}

// The dialog road; the console is started while the item list is held, and
// the list is freed and the library uninitialised after the start.
bool OpenConsoleInPickedFolder()
{
    ObjectLibrary library;
    FolderDialog dialog;
    if (!LoadObjectLibrary(library) || !LoadFolderDialog(dialog)) {
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
    ItemListOwner itemList(library, dialog.Browse(&bi));
    if (itemList.Get() == nullptr) {
        return false;
    }

    // An entry without a file-system path must not be taken for a folder named
    // after its display name.
    if (!dialog.GetPathFromItemList(itemList.Get(), pickerPath)) {
        return false;
    }
    return OpenConsoleIn(pickerPath);
}

} // namespace

bool LoadObjectLibrary(ObjectLibrary &library)
{
    HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
    return ole32 != nullptr && LoadRoutine(ole32, "OleInitialize", library.Initialize) &&
           LoadRoutine(ole32, "OleUninitialize", library.Uninitialize) &&
           LoadRoutine(ole32, "CoCreateInstance", library.CreateInstance) &&
           LoadRoutine(ole32, "CoTaskMemFree", library.TaskMemFree);
}

[[noreturn]] void FailNotAFolder()
{
    UseThemedControls();
    decltype(&::MessageBoxW) showMessage;
    HMODULE user32 = LoadSystemLibrary(kMessageLibrary);
    if (user32 != nullptr && LoadRoutine(user32, "MessageBoxW", showMessage)) {
        showMessage(nullptr, L"It is not a folder", L"Kelvane by Tamrik", MB_ICONERROR);
    }
    ExitProcess(0);
}

void PickTargetFolder()
{
    if (!OpenConsoleInPickedFolder()) {
        FailNotAFolder();
    }
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // The narrow command line cannot carry every folder name; the wide one is
    // split by the platform's rules.
    wchar_t *argument = nullptr;
    wchar_t *second = nullptr;
    if (!GetFirstArguments(&argument, &second)) {
        FailNotAFolder();
    }
    if (argument == nullptr) {
        PickTargetFolder();
        return 0;
    }

    // "/admin FOLDER": the same folder, in a console started as administrator.
    // "/admin" alone is a folder of that name, and a folder argument may be
    // followed by anything.
    if (second != nullptr && _wcsicmp(argument, L"/admin") == 0) {
        RestoreLastSeparator(second);
        bool declined = false;
        if (!OpenElevatedConsoleFor(second, &declined) && !declined) {
            FailNotAFolder();
        }
        return 0;
    }

    RestoreLastSeparator(argument);
    if (!OpenConsoleForArgument(argument)) {
        FailNotAFolder();
    }
    return 0;
}

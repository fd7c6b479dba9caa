// The console plan: from the decided folder to what is started for it, the
// interpreter, its command line, its starting directory and its variable.
#include "kelvane.h"

#include <wchar.h>

namespace {

// The classic form: make the drive current, then change to the folder on it.
// The drive part is a full path's drive letter and colon; the folder part is
// the rest of it, from its first separator.
constexpr wchar_t kDriveCommand[] = L"cmd.exe /K %.2ls && cd \"%ls\"";

// A folder the classic form cannot carry as it is never goes on the command
// line: a name the interpreter would expand ('%', '!'), or a short path that
// its cd would rebuild into a long one it cannot hold. It becomes the
// interpreter's starting directory instead, which it takes as it stands.
constexpr wchar_t kDirectoryCommand[] = L"cmd.exe /K";

// The interpreter refuses a network folder as its starting directory; for a
// share no drive letter is connected to, pushd maps one. (It stays until popd
// or sign-out.) The interpreter expands the variable once, so a '%' in
// the folder's name stays as it is. pushd takes a network path only with the
// command extensions, which a user may have turned off; and where delayed
// expansion is on, a '!' in the expanded name would be expanded again, so a
// name that holds one turns it off in this console.
constexpr wchar_t kVariableCommand[] = L"cmd.exe /E:ON%ls /K pushd \"%%%ls%%\" & set %ls=";
constexpr wchar_t kLiteralBang[] = L" /V:OFF";

// Whether the interpreter would expand part of a name written on its command
// line: a '%' reference, or a '!' one where delayed expansion is on.
bool WouldExpand(const wchar_t *folder)
{
    return wcspbrk(folder, L"%!") != nullptr;
}

// Fills shortFolder (kExtendedPathUnits) with folder's short path; false if
// it has none.
bool GetShortFolder(const Platform &platform, const wchar_t *folder, wchar_t *shortFolder)
{
    GetFileSystemPath(folder, shortFolder);
    DWORD length = platform.GetShortPath(shortFolder, shortFolder, kExtendedPathUnits);
    return length != 0 && length < kExtendedPathUnits &&
           (!HasDevicePrefix(shortFolder) || RemoveDevicePrefix(platform, shortFolder));
}

} // namespace

bool CanOpenConsoleIn(const wchar_t *folder)
{
    return wcslen(folder) <= MAX_PATH - 2;
}

const wchar_t *ChooseConsoleFolder(const wchar_t *folder, const wchar_t *shortFolder, bool redirected)
{
    // This process checks a starting directory in its own view, in which the
    // native system folder is another: such a folder reaches the interpreter
    // only on its command line, where a '%' or '!' would be expanded.
    if (redirected) {
        return CanOpenConsoleIn(folder) && !WouldExpand(folder) ? folder : nullptr;
    }
    if (CanOpenConsoleIn(folder)) {
        return folder;
    }
    // The short path can only be a starting directory, which a network folder
    // cannot be.
    if (shortFolder == nullptr || IsNetworkPath(folder) || !CanOpenConsoleIn(shortFolder)) {
        return nullptr;
    }
    return shortFolder;
}

FolderHandover BuildConsoleCommand(const wchar_t *folder, bool shortened, wchar_t *commandLine)
{
    if (IsNetworkPath(folder)) {
        const wchar_t *literalBang = wcschr(folder, L'!') != nullptr ? kLiteralBang : L"";
        _snwprintf(commandLine, kCommandLineUnits, kVariableCommand, literalBang, kFolderVariable,
                   kFolderVariable);
        return kFolderInVariable;
    }
    // A short path must not be written where cd would rebuild its long name; a
    // '%' or '!' must not be written where the interpreter would expand it.
    if (shortened || WouldExpand(folder)) {
        wcscpy(commandLine, kDirectoryCommand);
        return kFolderAsDirectory;
    }

    _snwprintf(commandLine, kCommandLineUnits, kDriveCommand, folder, folder + 2);
    return kFolderInCommand;
}

// The interpreter's own copy in the system folder, never one found by the
// search order (the launcher's folder and the current folder come first there).
// On 64-bit Windows this 32-bit program's system folder holds the 32-bit
// interpreter, in which System32 and the registry are redirected and the 64-bit
// commands are missing; the Sysnative alias reaches the native one.
bool GetInterpreterPath(const Platform &platform, wchar_t *interpreter)
{
    bool native = platform.GetNativeWindowsFolder(interpreter);
    const wchar_t *name = native ? L"\\Sysnative\\cmd.exe" : L"\\cmd.exe";
    UINT length = native ? static_cast<UINT>(wcslen(interpreter)) : platform.GetSystemFolder(interpreter, MAX_PATH);
    if (length == 0 || length + wcslen(name) >= MAX_PATH) {
        return false;
    }
    wcscat(interpreter, name);
    return true;
}

bool GetDriveSpelling(const Platform &platform, const wchar_t *folder, wchar_t *spelling)
{
    size_t deepest = 0;
    for (wchar_t drive = L'A'; drive <= L'Z'; ++drive) {
        wchar_t share[kTargetPathUnits];
        if (!platform.GetDriveConnection(drive, share, kTargetPathUnits)) continue;
        size_t length = wcslen(share);
        while (length > 2 && share[length - 1] == L'\\') --length;
        const wchar_t *rest = folder + length;
        if (length <= deepest || !IsNetworkPath(share) || _wcsnicmp(folder, share, length) != 0 ||
            (*rest != L'\\' && *rest != L'\0')) {
            continue;
        }
        deepest = length;
        _snwprintf(spelling, kTargetPathUnits, L"%lc:%ls", drive, *rest == L'\0' ? L"\\" : rest);
    }
    return deepest != 0;
}

bool PlanConsole(const Platform &platform, const DecidedFolder &folder, ConsolePlan &plan)
{
    // A share that has a drive letter already is entered through it: no
    // letter is mapped for it.
    wchar_t driveSpelling[kTargetPathUnits];
    const wchar_t *spelling = IsNetworkPath(folder.path) && GetDriveSpelling(platform, folder.path, driveSpelling)
                                  ? driveSpelling
                                  : folder.path;
    // The short path is asked for only where the long one is too long.
    wchar_t shortFolder[kExtendedPathUnits];
    bool hasShort = !CanOpenConsoleIn(spelling) && GetShortFolder(platform, spelling, shortFolder);
    const wchar_t *consoleFolder = ChooseConsoleFolder(spelling, hasShort ? shortFolder : nullptr, folder.redirected);
    if (consoleFolder == nullptr || !GetInterpreterPath(platform, plan.interpreter)) {
        return false;
    }
    FolderHandover handover = BuildConsoleCommand(consoleFolder, consoleFolder == shortFolder, plan.commandLine);
    wcscpy(plan.variable, handover == kFolderInVariable ? consoleFolder : L"");

    // A form that does not stand the interpreter in the folder starts it in
    // the Windows folder: the launcher's own current folder may be a network
    // folder (Explorer starts a verb's command in the folder it shows), which
    // the interpreter refuses, saying so, before its command moves it.
    if (handover == kFolderAsDirectory) {
        wcscpy(plan.directory, consoleFolder);
    } else {
        UINT length = platform.GetWindowsFolder(plan.directory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return false;
    }

    // Under WOW64 the interpreter is started by its Sysnative path, which
    // would be the console's title and name the settings it looks up
    // (HKCU\Console\<title>); a Command Prompt's are its System32 path's.
    wchar_t windows[MAX_PATH];
    plan.title[0] = L'\0';
    if (platform.GetNativeWindowsFolder(windows)) {
        _snwprintf(plan.title, MAX_PATH, L"%ls\\%ls\\cmd.exe", windows, kSystemFolder);
    }
    return true;
}

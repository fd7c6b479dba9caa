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

// The interpreter refuses a network folder as its starting directory; pushd maps a
// drive letter for it. The interpreter expands the variable once, so a '%' in
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

bool PlanConsole(const Platform &platform, const DecidedFolder &folder, ConsolePlan &plan)
{
    // The short path is asked for only where the long one is too long.
    wchar_t shortFolder[kExtendedPathUnits];
    bool hasShort = !CanOpenConsoleIn(folder.path) && GetShortFolder(platform, folder.path, shortFolder);
    const wchar_t *consoleFolder = ChooseConsoleFolder(folder.path, hasShort ? shortFolder : nullptr,
                                                       folder.redirected);
    if (consoleFolder == nullptr || !GetInterpreterPath(platform, plan.interpreter)) {
        return false;
    }
    FolderHandover handover = BuildConsoleCommand(consoleFolder, consoleFolder != folder.path, plan.commandLine);
    wcscpy(plan.directory, handover == kFolderAsDirectory ? consoleFolder : L"");
    wcscpy(plan.variable, handover == kFolderInVariable ? consoleFolder : L"");
    return true;
}

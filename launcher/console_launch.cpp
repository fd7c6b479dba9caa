// Console launch: the interpreter's command line for a folder, and its start.
#include "kelvane.h"

#include <wchar.h>

namespace {

// The classic form: make the drive current, then change to the folder on it.
constexpr wchar_t kDriveCommand[] = L"cmd.exe /K %ls && cd \"%ls\"";

// A folder the classic form cannot carry safely is never written on the command
// line: no unit of it may be run as a command or expanded as a '%' reference,
// and cd does not take every spelling (forward slashes). It becomes the
// interpreter's starting directory instead, which the platform makes whole.
constexpr wchar_t kDirectoryCommand[] = L"cmd.exe /K";

// The interpreter refuses a network folder as its starting directory; pushd maps a
// drive letter for it. The interpreter expands the variable once, so a '%' in
// the folder's name stays as it is.
constexpr wchar_t kVariableCommand[] = L"cmd.exe /K pushd \"%%%ls%%\" & set %ls=";

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool StartsWithDrive(const wchar_t *path)
{
    return IsAsciiLetter(path[0]) && path[1] == L':';
}

// The interpreter cannot enter the extended-length forms \\?\C:\dir and
// \\?\UNC\server\share; it gets the same folders as C:\dir and \\server\share.
void CopyWithoutExtendedPrefix(const wchar_t *path, wchar_t *copy)
{
    if (wcsncmp(path, L"\\\\?\\", 4) == 0 && StartsWithDrive(path + 4)) {
        wcscpy(copy, path + 4);
    } else if (_wcsnicmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        copy[0] = L'\\';
        wcscpy(copy + 1, path + 7);
    } else {
        wcscpy(copy, path);
    }
}

bool IsNetworkPath(const wchar_t *path)
{
    return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

// The interpreter's own copy in the system folder, never one found by the
// search order (the launcher's folder and the current folder come first there).
// On 64-bit Windows this 32-bit program's system folder holds the 32-bit
// interpreter, in which System32 and the registry are redirected and the 64-bit
// commands are missing; the Sysnative alias reaches the native one.
bool GetInterpreterPath(wchar_t *interpreter)
{
    BOOL wow64 = FALSE;
    bool native = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    const wchar_t *name = native ? L"\\Sysnative\\cmd.exe" : L"\\cmd.exe";
    UINT length = native ? GetSystemWindowsDirectoryW(interpreter, MAX_PATH)
                         : GetSystemDirectoryW(interpreter, MAX_PATH);
    if (length == 0 || length + wcslen(name) >= MAX_PATH) {
        return false;
    }
    wcscat(interpreter, name);
    return true;
}

} // namespace

bool CanOpenConsoleIn(const wchar_t *targetPath)
{
    wchar_t folder[kTargetPathUnits];
    CopyWithoutExtendedPrefix(targetPath, folder);
    return wcslen(folder) <= MAX_PATH - 2;
}

FolderHandover BuildConsoleCommand(const wchar_t *targetPath, wchar_t *commandLine, wchar_t *folder)
{
    folder[0] = L'\0';
    if (!StartsWithDrive(targetPath) || wcspbrk(targetPath, L"%/") != nullptr) {
        CopyWithoutExtendedPrefix(targetPath, folder);
        if (IsNetworkPath(folder)) {
            _snwprintf(commandLine, kCommandLineUnits, kVariableCommand, kFolderVariable,
                       kFolderVariable);
            return kFolderInVariable;
        }
        wcscpy(commandLine, kDirectoryCommand);
        return kFolderAsDirectory;
    }

    // The drive part is everything up to and including the first colon; the
    // folder part is the rest of the path.
    wchar_t drivePart[kTargetPathUnits];
    int copied = 0;
    drivePart[0] = L'\0';
    while (targetPath[copied] != L'\0') {
        drivePart[copied] = targetPath[copied];
        ++copied;
        if (drivePart[copied - 1] == L':') {
            break;
        }
    }
    drivePart[copied] = L'\0';
    const wchar_t *folderPart = targetPath + copied;

    _snwprintf(commandLine, kCommandLineUnits, kDriveCommand, drivePart, folderPart);
    return kFolderInCommand;
}

void OpenConsoleIn(const wchar_t *targetPath)
{
    wchar_t commandLine[kCommandLineUnits];
    wchar_t folder[kTargetPathUnits];
    FolderHandover handover = BuildConsoleCommand(targetPath, commandLine, folder);
    if (handover == kFolderInVariable && !SetEnvironmentVariableW(kFolderVariable, folder)) {
        return;
    }

    wchar_t interpreter[MAX_PATH];
    if (!GetInterpreterPath(interpreter)) {
        return;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const wchar_t *directory = handover == kFolderAsDirectory ? folder : nullptr;
    // The interpreter lives on by itself; nothing waits for it.
    if (CreateProcessW(interpreter, commandLine, nullptr, nullptr, FALSE, 0, nullptr, directory,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

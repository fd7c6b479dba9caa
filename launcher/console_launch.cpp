// Console launch: the folder as the interpreter will see it, the interpreter's
// command line for it, and its start.
#include "kelvane.h"

#include <wchar.h>

namespace {

// The classic form: make the drive current, then change to the folder on it.
constexpr wchar_t kDriveCommand[] = L"cmd.exe /K %ls && cd \"%ls\"";

// A folder the classic form cannot carry safely is never written on the command
// line: no unit of it may be run as a command or expanded as a '%' or '!'
// reference, and cd does not take every spelling (forward slashes). It becomes
// the interpreter's starting directory instead, spelled as a full path.
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

// A full path is a drive path or, starting with two separators, a network path.
bool IsNetworkPath(const wchar_t *fullPath)
{
    return fullPath[0] == L'\\' && fullPath[1] == L'\\';
}

// \\?\ and \\.\ name the platform's objects directly.
bool HasDevicePrefix(const wchar_t *path)
{
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

// Fills fullPath (kTargetPathUnits) as GetFullPathNameW makes it whole.
bool GetFullPath(const wchar_t *path, wchar_t *fullPath)
{
    DWORD length = GetFullPathNameW(path, kTargetPathUnits, fullPath, nullptr);
    return length != 0 && length < kTargetPathUnits;
}

// The interpreter stands only in what a plain path names. A device path must
// therefore be a drive or network path behind its prefix, spelled as the
// platform spells it anyway: \\?\C:\a. (trailing dot) or \\?\C:\a\NUL name
// objects that C:\a. and C:\a\NUL do not, and \\.\COM1 is no folder at all.
bool RemoveDevicePrefix(wchar_t *fullPath)
{
    wchar_t plain[kTargetPathUnits];
    const wchar_t *rest = fullPath + 4;
    if (StartsWithDrive(rest)) {
        wcscpy(plain, rest);
    } else if (_wcsnicmp(rest, L"UNC\\", 4) == 0) {
        plain[0] = L'\\';
        wcscpy(plain + 1, rest + 3);
    } else {
        return false;
    }
    wchar_t again[kTargetPathUnits];
    if (!GetFullPath(plain, again) || wcscmp(again, plain) != 0) {
        return false;
    }
    wcscpy(fullPath, plain);
    return true;
}

// Where path is windows\name or below it, the rest of it ("" or "\..."); else null.
const wchar_t *AfterSystemFolder(const wchar_t *path, const wchar_t *windows, const wchar_t *name)
{
    size_t windowsLength = wcslen(windows);
    size_t nameLength = wcslen(name);
    if (_wcsnicmp(path, windows, windowsLength) != 0 || path[windowsLength] != L'\\' ||
        _wcsnicmp(path + windowsLength + 1, name, nameLength) != 0) {
        return nullptr;
    }
    const wchar_t *rest = path + windowsLength + 1 + nameLength;
    return *rest == L'\\' || *rest == L'\0' ? rest : nullptr;
}

// The classic form takes a drive spelling as the user wrote it, provided the
// interpreter reads it as written: no '%' it expands, no '!' it expands when
// delayed expansion is on, no '/' its cd misreads.
bool IsPlainDriveSpelling(const wchar_t *spelling)
{
    return StartsWithDrive(spelling) && wcspbrk(spelling, L"%!/") == nullptr;
}

} // namespace

bool GetNativeWindowsFolder(wchar_t *windows)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        return false;
    }
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

// The interpreter's own copy in the system folder, never one found by the
// search order (the launcher's folder and the current folder come first there).
// On 64-bit Windows this 32-bit program's system folder holds the 32-bit
// interpreter, in which System32 and the registry are redirected and the 64-bit
// commands are missing; the Sysnative alias reaches the native one.
bool GetInterpreterPath(wchar_t *interpreter)
{
    bool native = GetNativeWindowsFolder(interpreter);
    const wchar_t *name = native ? L"\\Sysnative\\cmd.exe" : L"\\cmd.exe";
    UINT length = native ? static_cast<UINT>(wcslen(interpreter))
                         : GetSystemDirectoryW(interpreter, MAX_PATH);
    if (length == 0 || length + wcslen(name) >= MAX_PATH) {
        return false;
    }
    wcscat(interpreter, name);
    return true;
}

bool ReplaceSystemFolder(wchar_t *path, const wchar_t *windows, const wchar_t *from, const wchar_t *to)
{
    const wchar_t *rest = AfterSystemFolder(path, windows, from);
    if (rest == nullptr) {
        return false;
    }
    // The path keeps its own spelling of the Windows folder; the rest moves.
    size_t head = wcslen(windows) + 1;
    size_t toLength = wcslen(to);
    size_t restLength = wcslen(rest);
    if (head + toLength + restLength >= kTargetPathUnits) {
        return false;
    }
    wmemmove(path + head + toLength, rest, restLength + 1);
    wmemcpy(path + head, to, toLength);
    return true;
}

bool GetInterpreterView(const wchar_t *path, const wchar_t *nativeWindows, wchar_t *fullPath,
                        bool *redirected)
{
    *redirected = false;
    // GetFullPathNameW makes the path whole as the interpreter's own calls do:
    // relative and drive-relative names completed from the current folders, '/'
    // made '\', "." and ".." resolved, trailing dots and blanks dropped, device
    // names made \\.\NAME. An extended-length path is meant as it stands.
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        if (wcslen(path) >= kTargetPathUnits) return false;
        wcscpy(fullPath, path);
    } else if (!GetFullPath(path, fullPath)) {
        return false;
    }
    if (HasDevicePrefix(fullPath) && !RemoveDevicePrefix(fullPath)) {
        return false;
    }

    size_t length = wcslen(fullPath);
    size_t root = IsNetworkPath(fullPath) ? 2 : 3;
    while (length > root && fullPath[length - 1] == L'\\') {
        fullPath[--length] = L'\0';
    }

    // Under WOW64 the native interpreter has no Sysnative: for it, that alias of
    // this process is System32. This process sees System32 as another folder.
    if (nativeWindows != nullptr) {
        ReplaceSystemFolder(fullPath, nativeWindows, L"Sysnative", L"System32");
        *redirected = AfterSystemFolder(fullPath, nativeWindows, L"System32") != nullptr;
    }
    return true;
}

PathKind ExaminePath(const wchar_t *path, wchar_t *fullPath, bool *redirected)
{
    wchar_t windows[MAX_PATH];
    bool wow64 = GetNativeWindowsFolder(windows);
    if (!GetInterpreterView(path, wow64 ? windows : nullptr, fullPath, redirected)) {
        return kNoPath;
    }

    NativeFileSystemView nativeView;
    DWORD attributes = GetFileAttributesW(fullPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return kNoPath;
    }
    // A folder must open for traversal, as the interpreter opens it to stand in
    // it. A file is opened for its attributes alone, never for reading, so that
    // a pipe or device is told from a disk file without waiting on it.
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    HANDLE handle = CreateFileW(fullPath, folder ? FILE_TRAVERSE | SYNCHRONIZE : FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return kNoPath;
    }
    DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (folder) {
        return kFolderPath;
    }
    return type == FILE_TYPE_DISK ? kDiskFile : kNoPath;
}

bool CanOpenConsoleIn(const wchar_t *folder)
{
    return wcslen(folder) <= MAX_PATH - 2;
}

FolderHandover BuildConsoleCommand(const wchar_t *candidate, const wchar_t *folder, bool redirected,
                                   wchar_t *commandLine)
{
    if (IsNetworkPath(folder)) {
        _snwprintf(commandLine, kCommandLineUnits, kVariableCommand, kFolderVariable, kFolderVariable);
        return kFolderInVariable;
    }
    // This process's CreateProcessW checks a starting directory in its own view,
    // in which the native system folder is another, so such a folder goes on the
    // command line, spelled as the native interpreter reads it.
    const wchar_t *spelling = redirected ? folder : candidate;
    if (!IsPlainDriveSpelling(spelling)) {
        wcscpy(commandLine, kDirectoryCommand);
        return kFolderAsDirectory;
    }

    // The drive part is everything up to and including the first colon; the
    // folder part is the rest of the spelling.
    wchar_t drivePart[kTargetPathUnits];
    int copied = 0;
    drivePart[0] = L'\0';
    while (spelling[copied] != L'\0') {
        drivePart[copied] = spelling[copied];
        ++copied;
        if (drivePart[copied - 1] == L':') {
            break;
        }
    }
    drivePart[copied] = L'\0';
    const wchar_t *folderPart = spelling + copied;

    _snwprintf(commandLine, kCommandLineUnits, kDriveCommand, drivePart, folderPart);
    return kFolderInCommand;
}

bool OpenConsoleIn(const wchar_t *candidate)
{
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    return ExaminePath(candidate, folder, &redirected) == kFolderPath &&
           StartConsoleIn(candidate, folder, redirected);
}

bool StartConsoleIn(const wchar_t *candidate, const wchar_t *folder, bool redirected)
{
    if (!CanOpenConsoleIn(folder)) {
        return false;
    }

    wchar_t commandLine[kCommandLineUnits];
    FolderHandover handover = BuildConsoleCommand(candidate, folder, redirected, commandLine);
    if (handover == kFolderInVariable && !SetEnvironmentVariableW(kFolderVariable, folder)) {
        return false;
    }

    wchar_t interpreter[MAX_PATH];
    if (!GetInterpreterPath(interpreter)) {
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const wchar_t *directory = handover == kFolderAsDirectory ? folder : nullptr;
    // The interpreter lives on by itself; nothing waits for it.
    if (!CreateProcessW(interpreter, commandLine, nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

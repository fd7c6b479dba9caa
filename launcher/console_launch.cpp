// Console launch: the folder as the interpreter will see it, the interpreter's
// command line for it, and its start.
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

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
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
    if (wcslen(rest) >= kTargetPathUnits) {
        return false;
    }
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

// The file system takes a path of MAX_PATH units or more only in its
// extended-length form, which names the same object as a full path that
// GetInterpreterView made. Fills fileSystemPath (kExtendedPathUnits) with the
// form the file system takes.
constexpr int kExtendedPathUnits = kTargetPathUnits + 8;

void GetFileSystemPath(const wchar_t *fullPath, wchar_t *fileSystemPath)
{
    fileSystemPath[0] = L'\0';
    if (wcslen(fullPath) >= MAX_PATH) {
        bool network = IsNetworkPath(fullPath);
        wcscpy(fileSystemPath, network ? L"\\\\?\\UNC" : L"\\\\?\\");
        fullPath += network ? 1 : 0;
    }
    wcscat(fileSystemPath, fullPath);
}

// Whether the interpreter would expand part of a name written on its command
// line: a '%' reference, or a '!' one where delayed expansion is on.
bool WouldExpand(const wchar_t *folder)
{
    return wcspbrk(folder, L"%!") != nullptr;
}

// A network path names a share at least: \\server alone is no folder.
bool NamesShare(const wchar_t *networkPath)
{
    const wchar_t *server = networkPath + 2;
    const wchar_t *separator = wcschr(server, L'\\');
    return separator != nullptr && separator != server && separator[1] != L'\0' &&
           separator[1] != L'\\';
}

} // namespace

bool StartsWithDrive(const wchar_t *path)
{
    return IsAsciiLetter(path[0]) && path[1] == L':';
}

bool IsNetworkPath(const wchar_t *fullPath)
{
    return fullPath[0] == L'\\' && fullPath[1] == L'\\';
}

bool IsFullPath(const wchar_t *path)
{
    return (StartsWithDrive(path) && IsSeparator(path[2])) || (IsSeparator(path[0]) && IsSeparator(path[1]));
}

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
    bool network = IsNetworkPath(fullPath);
    size_t root = network ? 2 : 3;
    while (length > root && fullPath[length - 1] == L'\\') {
        fullPath[--length] = L'\0';
    }
    if (network && !NamesShare(fullPath)) {
        return false;
    }

    // Under WOW64 the native interpreter has no Sysnative: for it, that alias of
    // this process is System32. This process sees System32 as another folder.
    if (nativeWindows != nullptr) {
        ReplaceSystemFolder(fullPath, nativeWindows, kSystemFolderAlias, kSystemFolder);
        *redirected = AfterSystemFolder(fullPath, nativeWindows, kSystemFolder) != nullptr;
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
    // The interpreter rebuilds every short (8.3) name as the long one, so the
    // folder is decided, measured and handed over by its long path. A result of
    // the buffer's size or more is the size a longer form would need.
    wchar_t fileSystemPath[kExtendedPathUnits];
    GetFileSystemPath(fullPath, fileSystemPath);
    DWORD length = GetLongPathNameW(fileSystemPath, fileSystemPath, kExtendedPathUnits);
    if (length == 0 || length >= kExtendedPathUnits ||
        (HasDevicePrefix(fileSystemPath) && !RemoveDevicePrefix(fileSystemPath)) ||
        wcslen(fileSystemPath) >= kTargetPathUnits) {
        return kNoPath;
    }
    wcscpy(fullPath, fileSystemPath);

    GetFileSystemPath(fullPath, fileSystemPath);
    DWORD attributes = GetFileAttributesW(fileSystemPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return kNoPath;
    }
    // A folder must open for traversal, as the interpreter opens it to stand in
    // it. A file is opened for its attributes alone, never for reading, so that
    // a pipe or device is told from a disk file without waiting on it.
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    HANDLE handle = CreateFileW(fileSystemPath, folder ? FILE_TRAVERSE | SYNCHRONIZE : FILE_READ_ATTRIBUTES,
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

bool OpenConsoleIn(const wchar_t *candidate)
{
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    return ExaminePath(candidate, folder, &redirected) == kFolderPath && StartConsoleIn(folder, redirected);
}

bool StartConsoleIn(const wchar_t *folder, bool redirected)
{
    // The short path is asked for only where the long one is too long.
    wchar_t shortFolder[kExtendedPathUnits];
    bool hasShort = false;
    if (!CanOpenConsoleIn(folder)) {
        NativeFileSystemView nativeView;
        GetFileSystemPath(folder, shortFolder);
        DWORD length = GetShortPathNameW(shortFolder, shortFolder, kExtendedPathUnits);
        hasShort = length != 0 && length < kExtendedPathUnits &&
                   (!HasDevicePrefix(shortFolder) || RemoveDevicePrefix(shortFolder));
    }
    const wchar_t *consoleFolder = ChooseConsoleFolder(folder, hasShort ? shortFolder : nullptr, redirected);
    if (consoleFolder == nullptr) {
        return false;
    }

    wchar_t commandLine[kCommandLineUnits];
    FolderHandover handover = BuildConsoleCommand(consoleFolder, consoleFolder != folder, commandLine);
    if (handover == kFolderInVariable && !SetEnvironmentVariableW(kFolderVariable, consoleFolder)) {
        return false;
    }

    wchar_t interpreter[MAX_PATH];
    if (!GetInterpreterPath(interpreter)) {
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const wchar_t *directory = handover == kFolderAsDirectory ? consoleFolder : nullptr;
    // The interpreter lives on by itself; nothing waits for it.
    if (!CreateProcessW(interpreter, commandLine, nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The folder decision: from a candidate (an argument, a picked folder, a
// shortcut's target) to the folder the interpreter will stand in, as the native
// interpreter sees the file system, or to none. Every road comes through
// DecideFolder.
#include "kelvane.h"

#include <wchar.h>

namespace {

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Fills fullPath (kTargetPathUnits) as GetFullPathNameW makes it whole.
bool GetFullPath(const Platform &platform, const wchar_t *path, wchar_t *fullPath)
{
    DWORD length = platform.GetFullPath(path, kTargetPathUnits, fullPath, nullptr);
    return length != 0 && length < kTargetPathUnits;
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

// A network path names a share at least: \\server alone is no folder.
bool NamesShare(const wchar_t *networkPath)
{
    const wchar_t *server = networkPath + 2;
    const wchar_t *separator = wcschr(server, L'\\');
    return separator != nullptr && separator != server && separator[1] != L'\0' &&
           separator[1] != L'\\';
}

} // namespace

bool HasDevicePrefix(const wchar_t *path)
{
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

bool RemoveDevicePrefix(const Platform &platform, wchar_t *fullPath)
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
    if (!GetFullPath(platform, plain, again) || wcscmp(again, plain) != 0) {
        return false;
    }
    wcscpy(fullPath, plain);
    return true;
}

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

bool GetInterpreterView(const Platform &platform, const wchar_t *path, const wchar_t *nativeWindows,
                        DecidedFolder &folder)
{
    wchar_t *fullPath = folder.path;
    folder.redirected = false;
    // GetFullPathNameW makes the path whole as the interpreter's own calls do:
    // relative and drive-relative names completed from the current folders, '/'
    // made '\', "." and ".." resolved, trailing dots and blanks dropped, device
    // names made \\.\NAME. An extended-length path is meant as it stands.
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        if (wcslen(path) >= kTargetPathUnits) return false;
        wcscpy(fullPath, path);
    } else if (!GetFullPath(platform, path, fullPath)) {
        return false;
    }
    if (HasDevicePrefix(fullPath) && !RemoveDevicePrefix(platform, fullPath)) {
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
        folder.redirected = AfterSystemFolder(fullPath, nativeWindows, kSystemFolder) != nullptr;
    }
    return true;
}

PathKind ExaminePath(const Platform &platform, const wchar_t *path, DecidedFolder &folder)
{
    wchar_t windows[MAX_PATH];
    bool wow64 = platform.GetNativeWindowsFolder(windows);
    if (!GetInterpreterView(platform, path, wow64 ? windows : nullptr, folder)) {
        return kNoPath;
    }

    // The interpreter rebuilds every short (8.3) name as the long one, so the
    // folder is decided, measured and handed over by its long path. A result of
    // the buffer's size or more is the size a longer form would need.
    wchar_t fileSystemPath[kExtendedPathUnits];
    GetFileSystemPath(folder.path, fileSystemPath);
    DWORD length = platform.GetLongPath(fileSystemPath, fileSystemPath, kExtendedPathUnits);
    if (length == 0 || length >= kExtendedPathUnits ||
        (HasDevicePrefix(fileSystemPath) && !RemoveDevicePrefix(platform, fileSystemPath)) ||
        wcslen(fileSystemPath) >= kTargetPathUnits) {
        return kNoPath;
    }
    wcscpy(folder.path, fileSystemPath);

    GetFileSystemPath(folder.path, fileSystemPath);
    DWORD attributes = platform.GetAttributes(fileSystemPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return kNoPath;
    }
    // A folder must open for traversal, as the interpreter opens it to stand in
    // it. A file is opened for its attributes alone, never for reading, so that
    // a pipe or device is told from a disk file without waiting on it.
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    DWORD type = FILE_TYPE_UNKNOWN;
    if (!platform.GetOpenedType(fileSystemPath, isFolder, &type)) {
        return kNoPath;
    }
    if (isFolder) {
        return kFolderPath;
    }
    return type == FILE_TYPE_DISK ? kDiskFile : kNoPath;
}

bool DecideFolder(const Platform &platform, const wchar_t *candidate, bool followShortcut, DecidedFolder &folder)
{
    PathKind kind = ExaminePath(platform, candidate, folder);
    if (kind == kFolderPath) {
        return true;
    }
    // Only the shell-link object tells a shortcut from any other file.
    if (kind != kDiskFile || !followShortcut) {
        return false;
    }

    // The file was examined in the native system folder, which this process
    // reaches as Sysnative; the link reader must read that same file.
    wchar_t windows[MAX_PATH];
    if (folder.redirected && platform.GetNativeWindowsFolder(windows) &&
        !ReplaceSystemFolder(folder.path, windows, kSystemFolder, kSystemFolderAlias)) {
        return false;
    }
    // Windows' reader gives at most MAX_PATH - 1 units and cuts a longer target
    // to them with success, and a cut path can name the target's parent: a
    // target of that length may be cut. A relative target would be completed
    // from this process's current folder, which the link never named. Where
    // the target may be the 32-bit twin of the recorded one, the message is
    // better than a console in the twin.
    ShortcutRecord record = {};
    if (!platform.ReadShortcut(folder.path, record) || record.unsettled ||
        wcslen(record.target) >= MAX_PATH - 1 || !IsFullPath(record.target)) {
        return false;
    }
    return ExaminePath(platform, record.target, folder) == kFolderPath;
}

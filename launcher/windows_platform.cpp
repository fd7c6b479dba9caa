// The platform the program runs on: Windows' own routines for the decision and
// the plan, the file-system ones as the native interpreter sees the file system.
#include "kelvane.h"
#include "libraries.h"
#include "owner.h"

namespace {

// Calls routine with WOW64 file-system redirection off on this thread, so that
// it sees the file system as the native interpreter will see it. Nothing that
// may load a library runs meanwhile: the loader would look in the native
// system folder. On 32-bit Windows it changes nothing.
template <typename Routine, typename... Arguments>
auto InNativeView(Routine routine, Arguments... arguments)
{
    void *previous = nullptr;
    Owner redirectionOff(Wow64DisableWow64FsRedirection(&previous) != FALSE,
                         [&previous](bool) { Wow64RevertWow64FsRedirection(previous); });
    return routine(arguments...);
}

DWORD GetNativeLongPath(const wchar_t *path, wchar_t *longPath, DWORD units)
{
    return InNativeView(GetLongPathNameW, path, longPath, units);
}

DWORD GetNativeShortPath(const wchar_t *path, wchar_t *shortPath, DWORD units)
{
    return InNativeView(GetShortPathNameW, path, shortPath, units);
}

DWORD GetNativeAttributes(const wchar_t *path)
{
    return InNativeView(GetFileAttributesW, path);
}

bool GetNativeOpenedType(const wchar_t *path, bool folder, DWORD *type)
{
    HANDLE handle = InNativeView(CreateFileW, path,
                                 folder ? FILE_TRAVERSE | SYNCHRONIZE : FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    *type = GetFileType(handle);
    CloseHandle(handle);
    return true;
}

bool GetNativeWindowsFolder(wchar_t *windows)
{
    if (!RunsUnderWow64()) {
        return false;
    }
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

// A drive letter connected to a network share; mpr is loaded for a network
// folder and the administrator's road alone.
bool GetDriveConnection(wchar_t drive, wchar_t *share, DWORD units)
{
    wchar_t name[] = {drive, L':', L'\0'};
    wchar_t root[] = {drive, L':', L'\\', L'\0'};
    NetworkLibrary network;
    return (GetLogicalDrives() & (1u << (drive - L'A'))) != 0 && GetDriveTypeW(root) == DRIVE_REMOTE &&
           LoadNetworkLibrary(network) && network.GetConnection(name, share, &units) == NO_ERROR;
}

} // namespace

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

const Platform kWindows = {
    GetFullPathNameW,       GetNativeLongPath,   GetNativeShortPath,         GetNativeAttributes,
    GetNativeOpenedType,    GetNativeWindowsFolder, GetSystemDirectoryW,     GetSystemWindowsDirectoryW,
    ResolveShortcut,        GetDriveConnection,  QueryDosDeviceW,
};

// The administrator's road: the folder decided in the user's session, spelled
// so that the elevated session, which has neither the user's network
// connections nor their substituted drives, finds the same folder, and kelvane
// started elevated with it, to open the console by the ordinary road.
#include "kelvane.h"
#include "libraries.h"
#include "owner.h"

#include <wchar.h>

namespace {

// How many drive letters a path may pass through: one step a letter.
constexpr int kDriveLetters = 26;

// Starts program elevated with the one argument folder. The shell tells any
// failure of its own itself, in its error box; saying no to the elevation is
// none.
void StartElevated(const wchar_t *program, const wchar_t *folder)
{
    wchar_t parameters[kTargetPathUnits + 4];
    BuildElevationParameters(folder, parameters);

    // The shell's routine, on this road only, in an apartment as it asks.
    ObjectLibrary library;
    ShellLibrary shell;
    if (!LoadObjectLibrary(library) || !LoadShellLibrary(shell)) {
        FailWithSystemError(GetLastError());
    }
    Owner apartment(SUCCEEDED(library.Initialize(nullptr)), [&library](bool) { library.Uninitialize(); });
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    shell.Execute(&info);
}

} // namespace

bool TranslateForElevation(const wchar_t *path, const wchar_t *connection, const wchar_t *device,
                           wchar_t *translated)
{
    // A network path needs nothing; a drive path may stand for another path.
    wchar_t base[kTargetPathUnits] = L"";
    if (!IsNetworkPath(path) && connection != nullptr && wcslen(connection) < kTargetPathUnits) {
        wcscpy(base, connection);
    } else if (!IsNetworkPath(path) && device != nullptr && wcsncmp(device, L"\\??\\", 4) == 0 &&
               wcslen(device) < kTargetPathUnits) {
        // \??\UNC\server\share: a drive substituted for a network folder.
        if (_wcsnicmp(device + 4, L"UNC\\", 4) == 0) {
            base[0] = L'\\';
            wcscpy(base + 1, device + 7);
        } else if (StartsWithDrive(device + 4)) {
            wcscpy(base, device + 4);
        }
    }
    if (base[0] == L'\0') {
        if (wcslen(path) >= kTargetPathUnits) return false;
        wcscpy(translated, path);
        return true;
    }

    // The letter's own root is the base itself, with a separator only where
    // the base is a drive's root.
    size_t baseLength = wcslen(base);
    while (baseLength > 0 && base[baseLength - 1] == L'\\') --baseLength;
    const wchar_t *rest = path[3] != L'\0' ? path + 2 : (StartsWithDrive(base) && baseLength == 2 ? L"\\" : L"");
    if (baseLength + wcslen(rest) >= kTargetPathUnits) return false;
    wmemcpy(translated, base, baseLength);
    wcscpy(translated + baseLength, rest);
    return true;
}

bool GetElevationPath(const Platform &platform, const wchar_t *path, wchar_t *translated)
{
    if (wcslen(path) >= kTargetPathUnits) return false;
    wcscpy(translated, path);
    for (int step = 0; step <= kDriveLetters; ++step) {
        if (!StartsWithDrive(translated)) return true;
        wchar_t drive[3] = {translated[0], translated[1], L'\0'};
        wchar_t connection[kTargetPathUnits];
        wchar_t device[kTargetPathUnits];
        bool connected = platform.GetDriveConnection(drive[0], connection, kTargetPathUnits);
        bool substituted = !connected && platform.GetDosDevice(drive, device, kTargetPathUnits) != 0;
        if (!connected && !(substituted && wcsncmp(device, L"\\??\\", 4) == 0)) return true;
        wchar_t next[kTargetPathUnits];
        if (!TranslateForElevation(translated, connected ? connection : nullptr, substituted ? device : nullptr,
                                   next)) {
            return false;
        }
        wcscpy(translated, next);
    }
    return false;
}

void BuildElevationParameters(const wchar_t *folder, wchar_t *parameters)
{
    size_t length = wcslen(folder);
    _snwprintf(parameters, kTargetPathUnits + 4, L"\"%ls%ls\"", folder,
               folder[length - 1] == L'\\' ? L"\\" : L"");
}

bool OpenElevatedConsoleFor(const wchar_t *argument)
{
    // Elevating cmd.exe instead would lose its starting directory and the
    // network form's variable. kelvane's own path is spelled for the elevated
    // session too: it may stand on one of the user's drive letters.
    DecidedFolder folder;
    if (!DecideFolder(kWindows, argument, true, folder)) {
        return false;
    }
    wchar_t translated[kTargetPathUnits];
    wchar_t module[kTargetPathUnits];
    wchar_t program[kTargetPathUnits];
    DWORD moduleLength = GetModuleFileNameW(nullptr, module, kTargetPathUnits);
    if (moduleLength == 0 || moduleLength >= kTargetPathUnits || !GetElevationPath(kWindows, folder.path, translated) ||
        !GetElevationPath(kWindows, module, program)) {
        FailWithSystemError(ERROR_FILENAME_EXCED_RANGE);
    }
    StartElevated(program, translated);
    return true;
}

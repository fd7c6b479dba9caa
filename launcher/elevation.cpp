// The administrator's road: the folder decided in the user's session, spelled
// so that the elevated session, which has neither the user's network
// connections nor their substituted drives, finds the same folder, and kelvane
// started elevated with it, to open the console by the ordinary road.
#include "kelvane.h"
#include "libraries.h"
#include "owner.h"

#include <wchar.h>

namespace {

// TranslateForElevation with what this session says of folder's drive letter.
bool GetElevationFolder(const wchar_t *folder, wchar_t *translated)
{
    if (IsNetworkPath(folder)) return TranslateForElevation(folder, nullptr, nullptr, translated);

    // mpr serves this road only: a launch from a folder never loads it.
    wchar_t drive[3] = {folder[0], folder[1], L'\0'};
    wchar_t connection[kTargetPathUnits];
    DWORD size = kTargetPathUnits;
    NetworkLibrary network;
    bool connected = LoadNetworkLibrary(network) && network.GetConnection(drive, connection, &size) == NO_ERROR;
    wchar_t device[kTargetPathUnits];
    bool substituted = QueryDosDeviceW(drive, device, kTargetPathUnits) != 0;
    return TranslateForElevation(folder, connected ? connection : nullptr, substituted ? device : nullptr,
                                 translated);
}

} // namespace

bool TranslateForElevation(const wchar_t *folder, const wchar_t *connection, const wchar_t *device,
                           wchar_t *translated)
{
    // A network path needs nothing; a drive path may stand for another path.
    const wchar_t *base = nullptr;
    if (!IsNetworkPath(folder) && connection != nullptr) {
        base = connection;
    } else if (!IsNetworkPath(folder) && device != nullptr && wcsncmp(device, L"\\??\\", 4) == 0 &&
               StartsWithDrive(device + 4)) {
        base = device + 4;
    }
    if (base == nullptr) {
        if (wcslen(folder) >= kTargetPathUnits) return false;
        wcscpy(translated, folder);
        return true;
    }

    // The letter's own root is the base itself, with a separator only where
    // the base is a drive's root.
    size_t baseLength = wcslen(base);
    while (baseLength > 0 && base[baseLength - 1] == L'\\') --baseLength;
    const wchar_t *rest = folder[3] != L'\0' ? folder + 2 : (StartsWithDrive(base) && baseLength == 2 ? L"\\" : L"");
    if (baseLength + wcslen(rest) >= kTargetPathUnits) return false;
    wmemcpy(translated, base, baseLength);
    wcscpy(translated + baseLength, rest);
    return true;
}

void BuildElevationParameters(const wchar_t *folder, wchar_t *parameters)
{
    size_t length = wcslen(folder);
    _snwprintf(parameters, kTargetPathUnits + 4, L"\"%ls%ls\"", folder,
               folder[length - 1] == L'\\' ? L"\\" : L"");
}

bool OpenElevatedConsoleFor(const wchar_t *argument, bool *declined)
{
    // Elevating cmd.exe instead would lose its starting directory and the
    // network form's variable.
    DecidedFolder folder;
    wchar_t translated[kTargetPathUnits];
    if (!DecideFolder(kWindows, argument, true, folder) || !GetElevationFolder(folder.path, translated)) {
        return false;
    }
    wchar_t parameters[kTargetPathUnits + 4];
    BuildElevationParameters(translated, parameters);
    wchar_t program[kTargetPathUnits];
    DWORD programLength = GetModuleFileNameW(nullptr, program, kTargetPathUnits);
    if (programLength == 0 || programLength >= kTargetPathUnits) {
        return false;
    }

    // The shell's routine, on this road only, in an apartment as it asks.
    ObjectLibrary library;
    ShellLibrary shell;
    if (!LoadObjectLibrary(library) || !LoadShellLibrary(shell)) {
        return false;
    }
    Owner apartment(SUCCEEDED(library.Initialize(nullptr)), [&library](bool) { library.Uninitialize(); });
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!shell.Execute(&info)) {
        *declined = GetLastError() == ERROR_CANCELLED;
        return false;
    }
    return true;
}

// Elevation: the folder decided in the user's session, spelled so that the
// elevated session, which has neither the user's network connections nor
// their substituted drives, finds the same folder.
#include "kelvane.h"

#include <winnetwk.h>
#include <wchar.h>

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

bool GetElevationFolder(const wchar_t *folder, wchar_t *translated)
{
    if (IsNetworkPath(folder)) return TranslateForElevation(folder, nullptr, nullptr, translated);

    // mpr serves this road only: a launch from a folder never loads it.
    wchar_t drive[3] = {folder[0], folder[1], L'\0'};
    wchar_t connection[kTargetPathUnits];
    DWORD size = kTargetPathUnits;
    decltype(&::WNetGetConnectionW) getConnection;
    HMODULE mpr = LoadSystemLibrary(L"mpr.dll");
    bool connected = mpr != nullptr && LoadRoutine(mpr, "WNetGetConnectionW", getConnection) &&
                     getConnection(drive, connection, &size) == NO_ERROR;
    wchar_t device[kTargetPathUnits];
    bool substituted = QueryDosDeviceW(drive, device, kTargetPathUnits) != 0;
    return TranslateForElevation(folder, connected ? connection : nullptr, substituted ? device : nullptr,
                                 translated);
}

// A library planted beside kelvane.exe under the name of one that system code
// loads by name (uxtheme.dll): loaded, it leaves loaded.txt beside itself, and
// refuses to stay, so that the loader goes on to the system's own.
#include <windows.h>

#include <wchar.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    wchar_t *name = wcsrchr(path, L'\\');
    if (length != 0 && length < MAX_PATH - 12 && name != nullptr) {
        wcscpy(name + 1, L"loaded.txt");
        CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    return FALSE;
}

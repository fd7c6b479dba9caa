// Stands in for cmd.exe in the test prefix: appends what it was started with
// (its current folder also in its long form, and its console's title),
// and the moment it started (performance counter), to the file named by
// KELVANE_TEST_RECORD, then exits.
#include <windows.h>

#include <wchar.h>

namespace {

void AppendLine(HANDLE file, const wchar_t *key, const wchar_t *value)
{
    wchar_t line[4200];
    _snwprintf(line, 4200, L"%ls=%ls\n", key, value);
    line[4199] = L'\0';
    char bytes[12600];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (size > 1) WriteFile(file, bytes, size - 1, &written, nullptr);
}

} // namespace

int wmain()
{
    LARGE_INTEGER moment;
    QueryPerformanceCounter(&moment);
    wchar_t recordPath[MAX_PATH];
    if (GetEnvironmentVariableW(L"KELVANE_TEST_RECORD", recordPath, MAX_PATH) == 0) return 1;
    HANDLE file = CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;

    wchar_t text[4096];
    GetModuleFileNameW(nullptr, text, 4096);
    AppendLine(file, L"image", text);
    GetCurrentDirectoryW(4096, text);
    AppendLine(file, L"cwd", text);
    // The folder it stands in, whatever spelling it was handed.
    if (GetLongPathNameW(text, text, 4096) == 0) text[0] = L'\0';
    AppendLine(file, L"long-cwd", text);
    AppendLine(file, L"cmdline", GetCommandLineW());
    if (GetEnvironmentVariableW(L"KELVANE_FOLDER", text, 4096) == 0) text[0] = L'\0';
    AppendLine(file, L"folder", text);
    AppendLine(file, L"bits", sizeof(void *) == 8 ? L"64" : L"32");
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    AppendLine(file, L"title", startup.lpTitle != nullptr ? startup.lpTitle : L"");
    _snwprintf(text, 4096, L"%lld", moment.QuadPart);
    AppendLine(file, L"moment", text);
    CloseHandle(file);
    return 0;
}

// Times launches from a folder argument: from the start of a launcher until the
// (recording stand-in) interpreter starts, for kelvane.exe, the floor and the
// limit in turn.
//   launch_bench ROUNDS KELVANE FOLDER FLOOR LIMIT RECORD
// Prints one line a launch: "kelvane|floor|limit SECONDS", then nothing else;
// any failure ends it with a message on standard output and exit code 1.
#include "kelvane.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

HANDLE gOutput;

[[noreturn]] void Fail(const wchar_t *what)
{
    char text[512];
    int size = WideCharToMultiByte(CP_UTF8, 0, what, -1, text, sizeof text, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(gOutput, text, size - 1, &written, nullptr);
    WriteFile(gOutput, "\n", 1, &written, nullptr);
    ExitProcess(1);
}

// Appends text as one argument that CommandLineToArgvW gives back unchanged.
void AppendQuoted(wchar_t *line, const wchar_t *text)
{
    size_t at = wcslen(line);
    if (at > 0) line[at++] = L' ';
    line[at++] = L'"';
    for (const wchar_t *c = text;; ++c) {
        int slashes = 0;
        while (*c == L'\\') {
            ++slashes;
            ++c;
        }
        // Backslashes before a quote or the closing quote are doubled.
        int copies = (*c == L'"' || *c == L'\0') ? slashes * 2 : slashes;
        for (int i = 0; i < copies; ++i) line[at++] = L'\\';
        if (*c == L'\0') break;
        if (*c == L'"') line[at++] = L'\\';
        line[at++] = *c;
    }
    line[at++] = L'"';
    line[at] = L'\0';
}

// Reads the record the stand-in wrote into value: the value of key; false if
// there is none after ten seconds.
bool ReadRecord(const wchar_t *recordPath, const char *key, char *value, int capacity)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(recordPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            static char text[16384];
            DWORD read = 0;
            ReadFile(file, text, sizeof text - 1, &read, nullptr);
            CloseHandle(file);
            text[read] = '\0';
            // The stand-in writes the moment last: the record is whole once it is there.
            const char *found = strstr(text, key);
            if (strstr(text, "\nmoment=") != nullptr && found != nullptr) {
                found += strlen(key);
                int length = 0;
                while (found[length] != '\0' && found[length] != '\n' && length < capacity - 1) ++length;
                memcpy(value, found, length);
                value[length] = '\0';
                return true;
            }
        }
        Sleep(50);
    }
    return false;
}

// Fails, naming the launch that failed.
[[noreturn]] void FailLaunch(const wchar_t *what, const wchar_t *line)
{
    wchar_t text[400];
    _snwprintf(text, 400, L"%ls: %.300ls", what, line);
    text[399] = L'\0';
    Fail(text);
}

// Starts the line as the desktop does and returns the seconds until the
// interpreter started. Checks that it started the expected command line.
double TimeLaunch(const wchar_t *line, const wchar_t *recordPath, const char *commandLine)
{
    DeleteFileW(recordPath);
    static wchar_t buffer[8192];
    wcscpy(buffer, line);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &process)) {
        FailLaunch(L"a launcher did not start", line);
    }
    // A launcher that shows its message does not end by itself.
    bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ended) FailLaunch(L"a launcher did not end", line);

    char value[4096];
    if (!ReadRecord(recordPath, "\ncmdline=", value, sizeof value)) {
        FailLaunch(L"the interpreter left no record", line);
    }
    if (commandLine != nullptr && strcmp(value, commandLine) != 0) FailLaunch(L"the command lines differ", line);
    ReadRecord(recordPath, "\nmoment=", value, sizeof value);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(_atoi64(value) - start.QuadPart) / frequency.QuadPart;
}

void Print(const char *name, double seconds)
{
    char line[64];
    int length = _snprintf(line, sizeof line, "%s %.6f\n", name, seconds);
    DWORD written = 0;
    WriteFile(gOutput, line, length, &written, nullptr);
}

} // namespace

int wmain(int count, wchar_t **args)
{
    gOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    if (count != 7) Fail(L"usage: launch_bench ROUNDS KELVANE FOLDER FLOOR LIMIT RECORD");
    int rounds = _wtoi(args[1]);
    const wchar_t *recordPath = args[6];

    static wchar_t kelvaneLine[4096];
    kelvaneLine[0] = L'\0';
    AppendQuoted(kelvaneLine, args[2]);
    AppendQuoted(kelvaneLine, args[3]);

    // A first launch of kelvane gives the command line the others must pass.
    TimeLaunch(kelvaneLine, recordPath, nullptr);
    static char commandLine[4096];
    if (!ReadRecord(recordPath, "\ncmdline=", commandLine, sizeof commandLine)) {
        FailLaunch(L"the interpreter left no record", kelvaneLine);
    }
    wchar_t wideCommand[4096];
    MultiByteToWideChar(CP_UTF8, 0, commandLine, -1, wideCommand, 4096);
    // The others start the interpreter kelvane starts, found the same way. The
    // limit splits its line bare, so the command line comes last, as it is.
    wchar_t interpreter[MAX_PATH];
    if (!GetInterpreterPath(kWindows, interpreter)) Fail(L"no interpreter");
    static wchar_t floorLine[8192];
    floorLine[0] = L'\0';
    AppendQuoted(floorLine, args[4]);
    AppendQuoted(floorLine, args[3]);
    AppendQuoted(floorLine, interpreter);
    AppendQuoted(floorLine, wideCommand);
    static wchar_t limitLine[8192];
    limitLine[0] = L'\0';
    AppendQuoted(limitLine, args[5]);
    AppendQuoted(limitLine, args[3]);
    AppendQuoted(limitLine, interpreter);
    wcscat(limitLine, L" ");
    wcscat(limitLine, wideCommand);

    // Rotate which goes first, so none always follows another. The first
    // rounds only warm the caches of a fresh session and are not shown.
    const wchar_t *lines[] = {kelvaneLine, floorLine, limitLine};
    const char *names[] = {"kelvane", "floor", "limit"};
    const int warmUp = 5;
    for (int round = -warmUp; round < rounds; ++round) {
        for (int turn = 0; turn < 3; ++turn) {
            int launcher = (round + warmUp + turn) % 3;
            double seconds = TimeLaunch(lines[launcher], recordPath, commandLine);
            if (round >= 0) Print(names[launcher], seconds);
        }
    }
    return 0;
}

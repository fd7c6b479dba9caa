// Test helper that does what a user does with kelvane.exe, and says what it saw.
//   probe link LINK TARGET        makes a shortcut through the shell-link object
//   probe run [--select N] [--select-path PATH] [--directory DIR] [--verb VERB --class CLASS]
//             [--press BUTTON]... [--screen TEXT] [--timeout MS] COMMANDLINE
//       starts COMMANDLINE as the desktop does (no console, no inherited handles),
//       with DIR as its current folder if given, or with --verb has the shell run
//       the verb of CLASS (Directory, Drive) on the item COMMANDLINE names;
//       selects the Nth entry below the top of a dialog's folder tree or the
//       folder PATH,
//       reports its process id (hexadecimal) and every dialog it shows (pressing
//       each BUTTON in turn, then OK), its exit code, the
//       programs it started and, with --screen, their console screen once TEXT
//       is on it; then ends every process it started.
//   probe show [--press BUTTON]... [--until TEXT] COMMANDLINE
//       starts COMMANDLINE the same way, reports its process id, presses each
//       BUTTON in turn, and returns
//       once its dialog (showing TEXT, if given) or its console is on the
//       screen, leaving it there.
//   probe verb CLASS PATH [VERB]
//       reports the menu text, icon, shield, NoWorkingDirectory and command of the verb VERB (kelvane
//       unless told) of CLASS (Directory, Directory\Background, Drive), the
//       command filled in with PATH as Explorer fills it in, or verb=missing.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <wchar.h>

namespace {

HANDLE gOutput;

void Report(const wchar_t *key, const wchar_t *value)
{
    wchar_t line[4200];
    _snwprintf(line, 4200, L"%ls=%ls\n", key, value);
    line[4199] = L'\0';
    char bytes[12600];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (size > 1) WriteFile(gOutput, bytes, size - 1, &written, nullptr);
}

// The process id in hexadecimal, as Wine's debug output names it.
void ReportProcess(DWORD processId)
{
    wchar_t text[16];
    _snwprintf(text, 16, L"%04lx", processId);
    Report(L"process", text);
}

int MakeLink(const wchar_t *linkPath, const wchar_t *target)
{
    CoInitialize(nullptr);
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
    if (SUCCEEDED(hr)) hr = link->SetPath(target);
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_PPV_ARGS(&file));
    if (SUCCEEDED(hr)) hr = file->Save(linkPath, TRUE);
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

// Explorer reads the classes view, in which the user's own classes stand over
// the machine's; Wine has no such merged view, so the user's half is read here.
// Expandable strings come back expanded, as Explorer expands them.
int ReportVerb(const wchar_t *className, const wchar_t *path, const wchar_t *verb)
{
    wchar_t key[MAX_PATH];
    _snwprintf(key, MAX_PATH, L"Software\\Classes\\%ls\\shell\\%ls", className, verb);
    key[MAX_PATH - 1] = L'\0';
    wchar_t text[2048];
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        Report(L"verb", L"missing");
        return 0;
    }
    Report(L"text", text);
    size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"Icon", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS)
        Report(L"icon", text);
    size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"HasLUAShield", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS)
        Report(L"shield", L"yes");
    size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"NoWorkingDirectory", RRF_RT_REG_SZ, nullptr, text, &size) ==
        ERROR_SUCCESS)
        Report(L"no-working-directory", L"yes");
    wcscat(key, L"\\command");
    size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        Report(L"command", L"missing");
        return 0;
    }

    // %1 and %L stand for the item, %V for the folder of a background.
    wchar_t line[4096];
    int at = 0;
    for (const wchar_t *c = text; *c != L'\0' && at < 4000; ++c) {
        if (c[0] == L'%' && wcschr(L"1LlVv", c[1]) != nullptr && c[1] != L'\0') {
            at += _snwprintf(line + at, 4096 - at, L"%ls", path);
            ++c;
        } else {
            line[at++] = *c;
        }
    }
    line[at] = L'\0';
    Report(L"command", line);
    return 0;
}

// The buttons to press, one a dialog, in the order the dialogs appear; OK after them.
struct Dialogs {
    DWORD processId;
    const wchar_t *press[8];
    int pressed;
    int select;
    const wchar_t *selectPath;
    bool pressNothing;
    bool seen;
};

struct ButtonSearch {
    const wchar_t *text;
    HWND found;
};

BOOL CALLBACK ReportControl(HWND control, LPARAM param)
{
    ButtonSearch *search = reinterpret_cast<ButtonSearch *>(param);
    wchar_t className[64];
    wchar_t text[1024];
    GetClassNameW(control, className, 64);
    GetWindowTextW(control, text, 1024);
    if (!IsWindowVisible(control)) return TRUE;
    if (wcscmp(className, L"SysTreeView32") == 0) {
        // A list whose entries are cut off shows a horizontal scroll bar.
        Report(L"list-scrolls", (GetWindowLongW(control, GWL_STYLE) & WS_HSCROLL) != 0 ? L"yes" : L"no");
    }
    if (text[0] == L'\0') return TRUE;
    if (wcscmp(className, L"Button") == 0) {
        Report(L"button", text);
        if (search->found == nullptr && wcscmp(text, search->text) == 0) search->found = control;
    } else if (wcscmp(className, L"Static") == 0) {
        // One report a line of text.
        for (wchar_t *line = text; *line != L'\0';) {
            wchar_t *end = line + wcscspn(line, L"\r\n");
            bool last = *end == L'\0';
            *end = L'\0';
            if (*line != L'\0') Report(L"static", line);
            line = last ? end : end + 1;
        }
    }
    return TRUE;
}

// Which common controls the dialog's process has loaded: 6, the themed ones
// from the side-by-side store, or else 5 from the system folder.
void ReportControls(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    const wchar_t *version = nullptr;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
        if (_wcsicmp(module.szModule, L"comctl32.dll") != 0) continue;
        if (wcsstr(module.szExePath, L"common-controls") != nullptr) version = L"6";
        else if (version == nullptr) version = L"5";
    }
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
    if (version != nullptr) Report(L"controls", version);
}

// Asks the browse dialog of another process to select path: the message carries
// a pointer, so the text is first written into that process. A dialog gives its
// answer through its own result slot, not to the sender, so what the dialog
// then returns is the proof of the selection.
bool SelectPath(HWND dialog, DWORD processId, const wchar_t *path)
{
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) return false;
    SIZE_T bytes = (wcslen(path) + 1) * sizeof(wchar_t);
    void *text = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool written = text != nullptr && WriteProcessMemory(process, text, path, bytes, nullptr);
    CloseHandle(process);
    // Wine's dialog may not have filled a branch it never showed before in time
    // for the first request; the second finds it.
    if (written) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(text));
        Sleep(500);
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(text));
    }
    return written;
}

BOOL CALLBACK AddToFingerprint(HWND control, LPARAM param)
{
    DWORD *fingerprint = reinterpret_cast<DWORD *>(param);
    wchar_t text[1024];
    int length = GetWindowTextW(control, text, 1024);
    *fingerprint = *fingerprint * 31 + (IsWindowVisible(control) ? 1u : 2u);
    for (int i = 0; i < length; ++i) *fingerprint = *fingerprint * 31 + text[i];
    return TRUE;
}

// A number that changes when a control of the dialog comes, goes, shows,
// hides or changes its text.
DWORD Fingerprint(HWND dialog)
{
    DWORD fingerprint = 0;
    EnumChildWindows(dialog, AddToFingerprint, reinterpret_cast<LPARAM>(&fingerprint));
    return fingerprint;
}

BOOL CALLBACK ReportDialog(HWND window, LPARAM param)
{
    Dialogs *dialogs = reinterpret_cast<Dialogs *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64];
    GetClassNameW(window, className, 64);
    if (owner != dialogs->processId || !IsWindowVisible(window) || wcscmp(className, L"#32770") != 0)
        return TRUE;

    // Give the dialog a moment to fill its controls before reading them, and
    // read it only once its controls stay as they are: a page of a wizard may
    // be half replaced by the next.
    DWORD before = Fingerprint(window);
    Sleep(500);
    if (Fingerprint(window) != before) return FALSE;
    wchar_t text[1024];
    GetWindowTextW(window, text, 1024);
    Report(L"dialog", text);
    ReportControls(dialogs->processId);
    // A button to press is pressed once a dialog shows it; OK after them.
    const wchar_t *press = dialogs->press[dialogs->pressed];
    if (press == nullptr) press = L"OK";
    HWND tree = FindWindowExW(window, nullptr, L"SysTreeView32", nullptr);
    if (tree != nullptr && dialogs->select >= 0) {
        LRESULT item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
        for (int i = 0; i < dialogs->select && item != 0; ++i)
            item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
        Report(L"selected", item != 0 ? L"yes" : L"no");
        dialogs->select = -1;
        Sleep(300);
    }
    if (tree != nullptr && dialogs->selectPath != nullptr) {
        Report(L"selected", SelectPath(window, dialogs->processId, dialogs->selectPath) ? L"yes" : L"no");
        dialogs->selectPath = nullptr;
        Sleep(300);
    }
    ButtonSearch search = {dialogs->pressNothing ? L"" : press, nullptr};
    EnumChildWindows(window, ReportControl, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
        if (dialogs->press[dialogs->pressed] != nullptr) ++dialogs->pressed;
        Report(L"pressed", press);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(search.found), BN_CLICKED),
                     reinterpret_cast<LPARAM>(search.found));
    }
    dialogs->seen = true;
    return FALSE;
}

// Whether the process was created no earlier than the given moment.
bool CreatedSince(DWORD processId, const FILETIME &moment)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return false;
    FILETIME created, exited, kernel, user;
    bool since = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                 CompareFileTime(&created, &moment) >= 0;
    CloseHandle(process);
    return since;
}

// The first program the given process started, other than a console host or the
// desktop process that Wine starts for the first window. A process's parent id
// may be one that an ended process had, so a child is also no older than its parent.
DWORD FindChild(HANDLE parent, DWORD parentId, wchar_t *name)
{
    FILETIME parentCreated, exited, kernel, user;
    if (!GetProcessTimes(parent, &parentCreated, &exited, &kernel, &user)) return 0;
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parentId && _wcsicmp(entry.szExeFile, L"conhost.exe") != 0 &&
            _wcsicmp(entry.szExeFile, L"explorer.exe") != 0 &&
            CreatedSince(entry.th32ProcessID, parentCreated)) {
            found = entry.th32ProcessID;
            wcscpy(name, entry.szExeFile);
        }
    }
    CloseHandle(snapshot);
    return found;
}

// Reads the child's console until `expected` is on it or time runs out.
void ReportScreen(DWORD childId, const wchar_t *expected, DWORD deadline)
{
    static wchar_t screen[200 * 300 + 1];
    FreeConsole();
    bool attached = false;
    bool found = false;
    int width = 0;
    int rows = 0;
    while (!found && GetTickCount() < deadline) {
        if (!attached) attached = AttachConsole(childId) != FALSE;
        HANDLE output = attached ? CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info)) {
            width = info.dwSize.X < 200 ? info.dwSize.X : 200;
            rows = info.dwCursorPosition.Y + 1 < 300 ? info.dwCursorPosition.Y + 1 : 300;
            for (int row = 0; row < rows; ++row) {
                DWORD read = 0;
                ReadConsoleOutputCharacterW(output, screen + row * width, width,
                                            COORD{0, static_cast<SHORT>(row)}, &read);
            }
            screen[rows * width] = L'\0';
            found = wcsstr(screen, expected) != nullptr;
        }
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        if (!found) Sleep(100);
    }
    for (int row = 0; row < rows; ++row) {
        wchar_t line[201];
        wcsncpy(line, screen + row * width, width);
        int end = width;
        while (end > 0 && line[end - 1] == L' ') --end;
        line[end] = L'\0';
        Report(L"screen", line);
    }
    Report(L"screen-found", found ? L"yes" : L"no");
}

// Lets the process end by itself until the deadline, then ends it.
void EndProcess(DWORD processId, DWORD deadline)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) return;
    DWORD now = GetTickCount();
    if (WaitForSingleObject(process, now < deadline ? deadline - now : 0) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    CloseHandle(process);
}

// Starts the command line as the desktop does: no console, no inherited handles.
bool Start(const wchar_t *line, PROCESS_INFORMATION &process)
{
    static wchar_t commandLine[40000];
    wcsncpy(commandLine, line, 39999);
    commandLine[39999] = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &process)) {
        Report(L"start", L"failed");
        return false;
    }
    CloseHandle(process.hThread);
    return true;
}

// Has the shell run a verb on an item, as Explorer's menu does.
bool StartVerb(const wchar_t *verb, const wchar_t *className, const wchar_t *item,
               PROCESS_INFORMATION &process)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CLASSNAME | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb;
    info.lpClass = className;
    info.lpFile = item;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || info.hProcess == nullptr) {
        Report(L"start", L"failed");
        return false;
    }
    process.hProcess = info.hProcess;
    process.dwProcessId = GetProcessId(info.hProcess);
    return true;
}

BOOL CALLBACK FindText(HWND control, LPARAM param)
{
    ButtonSearch *search = reinterpret_cast<ButtonSearch *>(param);
    wchar_t text[1024];
    GetWindowTextW(control, text, 1024);
    if (IsWindowVisible(control) && wcscmp(text, search->text) == 0) search->found = control;
    return search->found == nullptr;
}

struct TextSearch {
    DWORD processId;
    ButtonSearch controls;
};

BOOL CALLBACK FindTextInWindow(HWND window, LPARAM param)
{
    TextSearch *search = reinterpret_cast<TextSearch *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window))
        EnumChildWindows(window, FindText, reinterpret_cast<LPARAM>(&search->controls));
    return search->controls.found == nullptr;
}

// Whether a window of the process shows a control with this text.
bool ShowsText(DWORD processId, const wchar_t *text)
{
    TextSearch search = {processId, {text, nullptr}};
    EnumWindows(FindTextInWindow, reinterpret_cast<LPARAM>(&search));
    return search.controls.found != nullptr;
}

// The options of run and show, each a name and a value; returns where the
// command line (or item) stands among args.
struct Options {
    const wchar_t *screen;
    const wchar_t *until;
    const wchar_t *directory;
    const wchar_t *verb;
    const wchar_t *className;
    DWORD timeout;
};

int ReadOptions(int count, wchar_t **args, Dialogs &dialogs, Options &options)
{
    dialogs.select = -1;
    options.timeout = 15000;
    int at = 2;
    for (; at + 1 < count && args[at][0] == L'-'; at += 2) {
        const wchar_t *name = args[at];
        const wchar_t *value = args[at + 1];
        if (wcscmp(name, L"--press") == 0 && dialogs.pressed < 7) dialogs.press[dialogs.pressed++] = value;
        else if (wcscmp(name, L"--screen") == 0) options.screen = value;
        else if (wcscmp(name, L"--until") == 0) options.until = value;
        else if (wcscmp(name, L"--select") == 0) dialogs.select = _wtoi(value);
        else if (wcscmp(name, L"--select-path") == 0) dialogs.selectPath = value;
        else if (wcscmp(name, L"--directory") == 0) options.directory = value;
        else if (wcscmp(name, L"--verb") == 0) options.verb = value;
        else if (wcscmp(name, L"--class") == 0) options.className = value;
        else if (wcscmp(name, L"--timeout") == 0) options.timeout = static_cast<DWORD>(_wtoi(value));
    }
    dialogs.pressed = 0;
    return at;
}

int Show(int count, wchar_t **args)
{
    Dialogs dialogs = {};
    Options options = {};
    int at = ReadOptions(count, args, dialogs, options);
    if (at >= count) return 2;
    PROCESS_INFORMATION process = {};
    if (!Start(args[at], process)) return 3;
    dialogs.processId = process.dwProcessId;
    ReportProcess(process.dwProcessId);
    DWORD deadline = GetTickCount() + 30000;
    while (GetTickCount() < deadline) {
        bool ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
        dialogs.pressNothing = dialogs.press[dialogs.pressed] == nullptr;
        dialogs.seen = false;
        EnumWindows(ReportDialog, reinterpret_cast<LPARAM>(&dialogs));
        if (dialogs.seen && dialogs.press[dialogs.pressed] == nullptr &&
            (options.until == nullptr || ShowsText(process.dwProcessId, options.until)))
            return 0;
        wchar_t name[MAX_PATH];
        DWORD childId = FindChild(process.hProcess, process.dwProcessId, name);
        if (childId != 0) {
            Report(L"child", name);
            ReportScreen(childId, L">", deadline);
            return 0;
        }
        if (ended) break;
    }
    return 1;
}

int Run(int count, wchar_t **args)
{
    Dialogs dialogs = {};
    Options options = {};
    int at = ReadOptions(count, args, dialogs, options);
    if (at >= count) return 2;
    // Wine starts no process in a network folder given as its starting
    // directory, but one that inherits it as the current folder starts there.
    if (options.directory != nullptr && !SetCurrentDirectoryW(options.directory)) {
        Report(L"directory", L"failed");
        return 3;
    }
    PROCESS_INFORMATION process = {};
    bool started = options.verb != nullptr ? StartVerb(options.verb, options.className, args[at], process)
                                           : Start(args[at], process);
    if (!started) return 3;

    DWORD deadline = GetTickCount() + options.timeout;
    dialogs.processId = process.dwProcessId;
    ReportProcess(process.dwProcessId);
    const wchar_t *expected = options.screen;
    DWORD exitCode = STILL_ACTIVE;
    while (GetTickCount() < deadline) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &exitCode);
            break;
        }
        dialogs.seen = false;
        EnumWindows(ReportDialog, reinterpret_cast<LPARAM>(&dialogs));
        if (dialogs.seen) Sleep(400);
    }
    wchar_t text[MAX_PATH] = L"";
    DWORD childId = FindChild(process.hProcess, process.dwProcessId, text);
    if (childId != 0) Report(L"child", text);
    if (exitCode == STILL_ACTIVE) {
        Report(L"exit", L"timeout");
        TerminateProcess(process.hProcess, 1);
    } else {
        _snwprintf(text, MAX_PATH, L"%lu", exitCode);
        Report(L"exit", text);
    }
    CloseHandle(process.hProcess);
    if (childId != 0 && expected != nullptr) ReportScreen(childId, expected, deadline);
    if (childId != 0) EndProcess(childId, expected != nullptr ? 0 : deadline);
    return 0;
}

} // namespace

int wmain()
{
    gOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 4 && wcscmp(args[1], L"link") == 0) return MakeLink(args[2], args[3]);
    if (count >= 3 && wcscmp(args[1], L"run") == 0) return Run(count, args);
    if (count >= 3 && wcscmp(args[1], L"show") == 0) return Show(count, args);
    if ((count == 4 || count == 5) && wcscmp(args[1], L"verb") == 0)
        return ReportVerb(args[2], args[3], count == 5 ? args[4] : L"kelvane");
    return 2;
}

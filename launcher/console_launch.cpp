// The launch: the effects of a console plan, and the one road from a candidate
// folder to a started console.
#include "kelvane.h"

bool StartConsole(ConsolePlan &plan)
{
    if (plan.variable[0] != L'\0' && !SetEnvironmentVariableW(kFolderVariable, plan.variable)) {
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpTitle = plan.title[0] != L'\0' ? plan.title : nullptr;
    PROCESS_INFORMATION process = {};
    // The interpreter lives on by itself; nothing waits for it.
    if (!CreateProcessW(plan.interpreter, plan.commandLine, nullptr, nullptr, FALSE, 0, nullptr, plan.directory,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool OpenConsoleIn(const wchar_t *candidate, bool followShortcut)
{
    DecidedFolder folder;
    ConsolePlan plan;
    return DecideFolder(kWindows, candidate, followShortcut, folder) && PlanConsole(kWindows, folder, plan) &&
           StartConsole(plan);
}

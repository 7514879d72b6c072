// Stand-in for a launcher that hands over to the Updater and then stays: it starts a command
// line from its own folder (every word "%PID%" replaced by its own process id), waits up to
// STAY_MS for that program to end, and writes "<its own name>.handover.txt" beside itself:
// its process id and the program's exit code ("running" when it had not ended).
//   hand_over STAY_MS WORD...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: hand_over STAY_MS WORD...\n");
        return 2;
    }
    char pid[16];
    std::snprintf(pid, sizeof pid, "%lu", GetCurrentProcessId());
    std::string command;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) command += ' ';
        command += std::strcmp(argv[i], "%PID%") == 0 ? pid : argv[i];
    }
    char module[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::string folder(module, std::strrchr(module, '\\') - module);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = command;
    std::string result = "not-started";
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process)) {
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(std::atol(argv[1]))) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &code))
            result = std::to_string(code);
        else
            result = "running";
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::string record = std::string(module) + ".handover.txt";
    FILE* out = std::fopen(record.c_str(), "wb");
    if (!out) return 3;
    std::fprintf(out, "pid=%s\nchild_exit=%s\n", pid, result.c_str());
    std::fclose(out);
    return 0;
}

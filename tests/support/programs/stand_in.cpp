// Stand-in for the updater and the game: records how it was started, then exits.
// It writes "<its own name>.started.txt" beside itself: the command line, the working
// directory and the arguments it received, one per line.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    char module[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, module, sizeof module);
    char record[MAX_PATH + 32];
    std::snprintf(record, sizeof record, "%s.started.txt", module);
    char cwd[MAX_PATH] = {0};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    FILE* out = std::fopen(record, "wb");
    if (!out) return 3;
    std::fprintf(out, "commandline=%s\n", GetCommandLineA());
    std::fprintf(out, "cwd=%s\n", cwd);
    std::fprintf(out, "argc=%d\n", argc);
    for (int i = 1; i < argc; ++i) std::fprintf(out, "arg%d=%s\n", i, argv[i]);
    std::fclose(out);
    return 0;
}

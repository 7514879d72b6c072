// Prints the system metrics the launcher centres its window with, as one JSON line.
#include <windows.h>

#include <cstdio>

int main() {
    std::printf("{\"cxfullscreen\": %d, \"cyfullscreen\": %d, \"cycaption\": %d}\n", GetSystemMetrics(SM_CXFULLSCREEN),
                GetSystemMetrics(SM_CYFULLSCREEN), GetSystemMetrics(SM_CYCAPTION));
    return 0;
}

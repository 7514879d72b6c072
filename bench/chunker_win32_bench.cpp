// Prints the chunker's speed in the Windows build, under Wine, against memcpy (bench/chunker_bench.h).
#include "chunker_bench.h"

int main() { return RunChunkerBench(sizeof(void*) == 8 ? "x86_64 build" : "i686 build"); }

// Prints the chunker's native speed against memcpy (bench/chunker_bench.h).
#include "chunker_bench.h"

int main() { return RunChunkerBench("native"); }

// The chunker's speed on 256 MiB of random bytes against a plain copy of the same bytes, in
// alternating runs; shared by the native and the Windows benchmark programs.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_stats.h"
#include "content_format/content_chunker.h"

inline int RunChunkerBench(const char* where) {
    const std::size_t total = std::size_t{256} << 20;
    const std::size_t block = std::size_t{1} << 20;  // what a file read hands over at a time
    std::vector<uint8_t> source(total), copy(total);
    uint64_t state = 0x1234;
    for (std::size_t i = 0; i < total; i += 8) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(&source[i], &z, 8);
    }
    std::memset(copy.data(), 1, total);  // the copy's pages exist before the first timed run
    const ChunkSizes sizes{16384, 65536, 262144};
    std::size_t chunks = 0;
    auto seconds = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    auto chunking = [&]() {
        auto start = std::chrono::steady_clock::now();
        Chunker c;
        ChunkerStart(c, sizes);
        chunks = 0;
        for (std::size_t at = 0; at < total; at += block) {
            const uint8_t* p = source.data() + at;
            std::size_t n = block;
            while (n > 0) {
                int ended = 0;
                const std::size_t took = ChunkerScan(c, p, n, &ended);
                p += took;
                n -= took;
                chunks += ended;
            }
        }
        chunks += ChunkerFinish(c) != 0;
        return total / 1e6 / seconds(start);
    };
    auto copying = [&]() {
        auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < total; at += block) std::memcpy(copy.data() + at, source.data() + at, block);
        const double speed = total / 1e6 / seconds(start);
        return copy[total / 3] == source[total / 3] ? speed : 0;
    };
    std::printf("chunker (%s): 256 MiB of random bytes in 1 MiB blocks, sizes 16384/65536/262144\n", where);
    Alternate(7, "chunking MB/s", chunking, "memcpy MB/s", copying, "MB/s", "chunking / memcpy");
    std::printf("%-34s %zu chunks, mean %.0f bytes\n", "chunks", chunks, static_cast<double>(total) / chunks);
    return 0;
}

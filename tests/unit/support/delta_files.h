// The delta applier's test files (tests/support/make_delta_files.py), read whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline std::vector<uint8_t> ReadDeltaFile(const char* name) {
    std::ifstream in(std::string(TEST_DELTAS_DIR) + "/" + name, std::ios::binary | std::ios::ate);
    EXPECT_TRUE(in.good()) << name << " not found in " << TEST_DELTAS_DIR;
    std::vector<uint8_t> out(in.good() ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return out;
}

// The processor a Windows program is built for, read from the first bytes of its file.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

// How much of a file's start ReadPeMachine needs for any program the linkers we use make.
constexpr std::size_t kPeHeaderProbeSize = 4096;

// The file header's machine field, when data (the file's first size bytes) starts with an
// "MZ" header whose e_lfanew points at "PE\0\0" inside data. False otherwise.
bool ReadPeMachine(const unsigned char* data, std::size_t size, uint16_t* machine);

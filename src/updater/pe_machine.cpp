// Reading the machine field of a PE file header, within the bytes given.
#include "updater/pe_machine.h"

#include "common/little_endian.h"

bool ReadPeMachine(const unsigned char* data, std::size_t size, uint16_t* machine) {
    constexpr std::size_t kLfanewOffset = 0x3C;
    if (!data || size < kLfanewOffset + 4 || data[0] != 'M' || data[1] != 'Z') return false;
    const uint32_t header = LoadLe32(data + kLfanewOffset);
    // Compared as a difference so that a huge offset cannot wrap around.
    if (header > size || size - header < 6) return false;
    const unsigned char* pe = data + header;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
    *machine = LoadLe16(pe + 4);
    return true;
}

// Reading the machine field of a PE file header, within the bytes given.
#include "updater/pe_machine.h"

namespace {

uint32_t Little32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool ReadPeMachine(const unsigned char* data, std::size_t size, uint16_t* machine) {
    constexpr std::size_t kLfanewOffset = 0x3C;
    if (!data || size < kLfanewOffset + 4 || data[0] != 'M' || data[1] != 'Z') return false;
    const uint32_t header = Little32(data + kLfanewOffset);
    // Compared as a difference so that a huge offset cannot wrap around.
    if (header > size || size - header < 6) return false;
    const unsigned char* pe = data + header;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
    *machine = static_cast<uint16_t>(pe[4] | pe[5] << 8);
    return true;
}

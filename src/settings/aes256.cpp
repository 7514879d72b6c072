// AES-256 as published in FIPS-197, byte-oriented; small and constant in memory use.
#include "settings/aes256.h"

#include <cstring>

namespace {

uint8_t Sbox[256];
uint8_t InvSbox[256];
bool TablesReady = false;

uint8_t Xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

uint8_t Multiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b) {
        if (b & 1) product ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return product;
}

// The S-box is derived (multiplicative inverse then the affine map) rather than typed in,
// which rules out a mistyped table entry.
void BuildTables() {
    if (TablesReady) return;
    for (int i = 0; i < 256; ++i) {
        uint8_t inverse = 0;
        if (i != 0) {
            for (int j = 1; j < 256; ++j) {
                if (Multiply(static_cast<uint8_t>(i), static_cast<uint8_t>(j)) == 1) {
                    inverse = static_cast<uint8_t>(j);
                    break;
                }
            }
        }
        uint8_t s = inverse;
        uint8_t x = inverse;
        for (int r = 0; r < 4; ++r) {
            x = static_cast<uint8_t>((x << 1) | (x >> 7));
            s ^= x;
        }
        s ^= 0x63;
        Sbox[i] = s;
        InvSbox[s] = static_cast<uint8_t>(i);
    }
    TablesReady = true;
}

struct TableInit {
    TableInit() { BuildTables(); }
} TableInitOnLoad;

void AddRoundKey(uint8_t state[16], const uint8_t* roundKey) {
    for (int i = 0; i < 16; ++i) state[i] ^= roundKey[i];
}

void SubBytes(uint8_t state[16]) {
    for (int i = 0; i < 16; ++i) state[i] = Sbox[state[i]];
}

void InvSubBytes(uint8_t state[16]) {
    for (int i = 0; i < 16; ++i) state[i] = InvSbox[state[i]];
}

// State is column-major: byte index = column * 4 + row.
void ShiftRows(uint8_t s[16]) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[c * 4 + r] = s[((c + r) % 4) * 4 + r];
    std::memcpy(s, t, 16);
}

void InvShiftRows(uint8_t s[16]) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[((c + r) % 4) * 4 + r] = s[c * 4 + r];
    std::memcpy(s, t, 16);
}

void MixColumns(uint8_t s[16]) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = s + c * 4;
        uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = static_cast<uint8_t>(Xtime(a0) ^ (Xtime(a1) ^ a1) ^ a2 ^ a3);
        col[1] = static_cast<uint8_t>(a0 ^ Xtime(a1) ^ (Xtime(a2) ^ a2) ^ a3);
        col[2] = static_cast<uint8_t>(a0 ^ a1 ^ Xtime(a2) ^ (Xtime(a3) ^ a3));
        col[3] = static_cast<uint8_t>((Xtime(a0) ^ a0) ^ a1 ^ a2 ^ Xtime(a3));
    }
}

void InvMixColumns(uint8_t s[16]) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = s + c * 4;
        uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = Multiply(a0, 14) ^ Multiply(a1, 11) ^ Multiply(a2, 13) ^ Multiply(a3, 9);
        col[1] = Multiply(a0, 9) ^ Multiply(a1, 14) ^ Multiply(a2, 11) ^ Multiply(a3, 13);
        col[2] = Multiply(a0, 13) ^ Multiply(a1, 9) ^ Multiply(a2, 14) ^ Multiply(a3, 11);
        col[3] = Multiply(a0, 11) ^ Multiply(a1, 13) ^ Multiply(a2, 9) ^ Multiply(a3, 14);
    }
}

}  // namespace

void Aes256ExpandKey(const uint8_t key[32], Aes256Key* expanded) {
    BuildTables();
    uint8_t* w = expanded->roundKeys;
    std::memcpy(w, key, 32);
    uint8_t rcon = 1;
    for (int i = 8; i < 60; ++i) {
        uint8_t temp[4];
        std::memcpy(temp, w + (i - 1) * 4, 4);
        if (i % 8 == 0) {
            uint8_t first = temp[0];
            temp[0] = static_cast<uint8_t>(Sbox[temp[1]] ^ rcon);
            temp[1] = Sbox[temp[2]];
            temp[2] = Sbox[temp[3]];
            temp[3] = Sbox[first];
            rcon = Xtime(rcon);
        } else if (i % 8 == 4) {
            for (int j = 0; j < 4; ++j) temp[j] = Sbox[temp[j]];
        }
        for (int j = 0; j < 4; ++j) w[i * 4 + j] = static_cast<uint8_t>(w[(i - 8) * 4 + j] ^ temp[j]);
    }
}

void Aes256EncryptBlock(const Aes256Key& key, const uint8_t in[16], uint8_t out[16]) {
    uint8_t state[16];
    std::memcpy(state, in, 16);
    AddRoundKey(state, key.roundKeys);
    for (int round = 1; round < 14; ++round) {
        SubBytes(state);
        ShiftRows(state);
        MixColumns(state);
        AddRoundKey(state, key.roundKeys + round * 16);
    }
    SubBytes(state);
    ShiftRows(state);
    AddRoundKey(state, key.roundKeys + 14 * 16);
    std::memcpy(out, state, 16);
}

void Aes256DecryptBlock(const Aes256Key& key, const uint8_t in[16], uint8_t out[16]) {
    uint8_t state[16];
    std::memcpy(state, in, 16);
    AddRoundKey(state, key.roundKeys + 14 * 16);
    for (int round = 13; round >= 1; --round) {
        InvShiftRows(state);
        InvSubBytes(state);
        AddRoundKey(state, key.roundKeys + round * 16);
        InvMixColumns(state);
    }
    InvShiftRows(state);
    InvSubBytes(state);
    AddRoundKey(state, key.roundKeys);
    std::memcpy(out, state, 16);
}

// Prints the native time of the opacity pass over one window-sized frame of the built-in skin.
#include <chrono>
#include <cstdio>
#include <vector>

#include "skin/pixels.h"

int main() {
    const int width = 649, height = 489;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    std::vector<uint8_t> frame(pixels * 4), alpha(pixels);
    // Like the built-in mask: transparent above and right of the panel, soft edges, opaque inside.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::size_t i = static_cast<std::size_t>(y) * width + x;
            bool panel = x >= 1 && x <= 608 && y >= 45;
            bool edge = panel && (x <= 2 || x >= 607 || y <= 46 || y >= 487);
            alpha[i] = panel ? (edge ? 160 : 255) : 0;
        }
    const int rounds = 2000;
    double best = 1e9, total = 0;
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + r);
        auto start = std::chrono::steady_clock::now();
        ApplyOpacity(frame.data(), alpha.data(), pixels);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        best = ms < best ? ms : best;
        total += ms;
    }
    std::printf("opacity pass (native, %zu pixels): best %.3f ms, mean %.3f ms over %d frames\n", pixels, best,
                total / rounds, rounds);
    return frame[12345] == 0x42 ? 1 : 0;
}

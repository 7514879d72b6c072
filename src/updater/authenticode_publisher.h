// The Authenticode publisher an Updater is built for (cmake/authenticode.cmake): the SHA-256
// of each public key whose certificate may sign a new launcher or installer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kPublisherPinSize = 32;  // a SHA-256
constexpr int kMaxPublisherPins = 4;

// How many pins this Updater carries; 0: it was built without a publisher and checks no
// Authenticode signature.
extern const int PublisherPinCount;
// kMaxPublisherPins pins (SHA-256 of a SubjectPublicKeyInfo's DER); the first PublisherPinCount count.
extern const uint8_t (*const PublisherPins)[kPublisherPinSize];

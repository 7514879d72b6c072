// The built-in Authenticode publisher, from the header cmake/authenticode.cmake generates. This
// file defines nothing else: a test build links a copy compiled against another publisher.
#include "updater/authenticode_publisher.h"

#include "build_authenticode_publisher.h"

static_assert(kBuildPublisherPinCount >= 0 && kBuildPublisherPinCount <= kMaxPublisherPins, "too many pins");

const int PublisherPinCount = kBuildPublisherPinCount;
const uint8_t (*const PublisherPins)[kPublisherPinSize] = kBuildPublisherPins;

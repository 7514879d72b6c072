// The player's speed limit for content fetches, kept in the current user's registry so that it
// outlives the launcher; until the player picks one, the build's branding default holds.
#pragma once

#include <cstdint>

// Under HKEY_CURRENT_USER, one key per game the launcher serves (a player may have two).
extern const char* const kContentChoiceKey;
constexpr const char* kRateLimitValueName = "ContentRateLimit";  // REG_DWORD, MB/s, 0: no limit
constexpr uint32_t kMaxRateLimitMbps = 999;

// The kept limit in MB/s, or LAUNCHER_CONTENT_RATE_LIMIT when none is kept (or it is unreadable).
uint32_t SavedRateLimitMbps();
// Keeps mbps (0: no limit) for the next starts; false, traced, when the registry refused it.
bool SaveRateLimitMbps(uint32_t mbps);

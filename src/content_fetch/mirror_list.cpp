// The content mirrors' list, their cool-downs and the failover rule.
#include "content_fetch/mirror_list.h"

#include <cstring>

#include "update/crawl_watch.h"
#include "update/https_address.h"

namespace {

constexpr std::size_t kSchemeLength = 8;  // "https://"

int IsSeparator(char c) { return c == ' ' || c == '\t' || c == ';' || c == '\r' || c == '\n'; }

// Why an entry cannot be a base, or null when it can.
const char* EntryFault(const char* entry, std::size_t length) {
    if (length > kMaxMirrorBaseLength) return "too long";
    if (length < kSchemeLength || !IsHttpsAddress(entry)) return "not https://";
    if (length == kSchemeLength || entry[kSchemeLength] == '/') return "no host";
    if (entry[length - 1] == '/') return "ends with /";
    return nullptr;
}

int Listed(const MirrorList& list, const char* entry, std::size_t length) {
    for (uint32_t i = 0; i < list.Count; ++i)
        if (std::strlen(list.Base[i]) == length && std::memcmp(list.Base[i], entry, length) == 0) return 1;
    return 0;
}

void Add(MirrorList& list, const char* entry, std::size_t length) {
    if (list.Count >= kMaxContentBases || length > kMaxMirrorBaseLength) return;
    std::memcpy(list.Base[list.Count], entry, length);
    list.Base[list.Count][length] = '\0';
    ++list.Count;
}

// Where a failure's code says nobody answers at this base: no connection, no such name.
constexpr uint32_t kUnreachableErrors[] = {
    12007,  // ERROR_INTERNET_NAME_NOT_RESOLVED
    12029,  // ERROR_INTERNET_CANNOT_CONNECT
    10061,  // WSAECONNREFUSED
    11001,  // WSAHOST_NOT_FOUND
};

}  // namespace

uint32_t ParseMirrorList(const char* text, const char* patchBase, MirrorList* out, MirrorRefused refused,
                         void* context) {
    MirrorList& list = *out;
    list.Count = 0;
    for (const char* at = text ? text : ""; *at;) {
        if (IsSeparator(*at)) {
            ++at;
            continue;
        }
        std::size_t length = 0;
        while (at[length] && !IsSeparator(at[length])) ++length;
        const char* fault = EntryFault(at, length);
        if (!fault && list.Count >= kMaxContentMirrors) fault = "too many";
        if (fault && refused) refused(context, at, length, fault);
        if (!fault && !Listed(list, at, length)) Add(list, at, length);
        at += length;
    }
    const std::size_t baseLength = patchBase ? std::strlen(patchBase) : 0;
    if (baseLength > 0 && baseLength <= kMaxMirrorBaseLength && !Listed(list, patchBase, baseLength))
        Add(list, patchBase, baseLength);
    return list.Count;
}

void NoteMirrorFailed(MirrorHealth& health, uint32_t base, uint64_t nowMs) {
    if (base < kMaxContentBases) health.CoolingUntil[base].store(nowMs + kMirrorCooldownMs);
}

void NoteMirrorServed(MirrorHealth& health, uint32_t base) {
    if (base < kMaxContentBases) health.CoolingUntil[base].store(0);
}

int MirrorCooling(const MirrorHealth& health, uint32_t base, uint64_t nowMs) {
    return base < kMaxContentBases && nowMs < health.CoolingUntil[base].load() ? 1 : 0;
}

int NoteMirrorIgnoresRanges(MirrorHealth& health, uint32_t base) {
    return base < kMaxContentBases && health.IgnoresRanges[base].exchange(1) == 0 ? 1 : 0;
}

int32_t ChooseMirror(const MirrorHealth& health, uint32_t count, uint32_t tried, uint64_t nowMs) {
    int32_t soonest = -1, wasteful = -1;
    uint64_t soonestEnd = 0;
    for (uint32_t i = 0; i < count && i < kMaxContentBases; ++i) {
        if (tried & (1u << i)) continue;
        const uint64_t until = health.CoolingUntil[i].load();
        if (nowMs >= until) {
            if (!health.IgnoresRanges[i].load()) return static_cast<int32_t>(i);
            // It serves, but a pack's every piece from the pack's start: only when no other does.
            if (wasteful < 0) wasteful = static_cast<int32_t>(i);
            continue;
        }
        if (soonest < 0 || until < soonestEnd) {
            soonest = static_cast<int32_t>(i);
            soonestEnd = until;
        }
    }
    return wasteful >= 0 ? wasteful : soonest;
}

int MirrorFailureIsAtOnce(const ContentTry& failure) {
    if (failure.Failure == kFailChunk || ContentFailureIsRefusal(failure)) return 1;
    // A base that crawled will most likely crawl again: each try there would cost a window.
    if (failure.Failure == kFailRead && failure.Error == kCrawlErrorCode) return 1;
    if (failure.Failure != kFailOpen) return 0;
    for (uint32_t e : kUnreachableErrors)
        if (e == failure.Error) return 1;
    return 0;
}

MirrorStep StepAfterFailure(const ContentTry& failure, uint32_t triesHere, int another) {
    if (failure.Failure == kFailLocal || failure.Failure == kFailNone) return kStepStop;
    const int passing = ContentFailureIsPassing(failure);
    // What will not pass by waiting (a certificate refused, say) is this base's too.
    if (another && (!passing || MirrorFailureIsAtOnce(failure))) return kStepNextMirror;
    if (passing && triesHere < kContentTries) return kStepRetry;
    return another ? kStepNextMirror : kStepStop;
}

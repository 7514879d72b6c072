// The rollback floor of the signed manifest kept where only administrators can write: the
// newest sequence number this installation has verified, beside the installer's version.
#pragma once

#include <cstdint>

// The value under HKEY_LOCAL_MACHINE\kInstallerRegistryKey (a REG_QWORD) of the live channel;
// another channel's is this name, ".", the channel (ChannelFloorValueName, patch_channel.h).
constexpr char kSequenceFloorValueName[] = "ManifestSequence";

// The online keys' tag in a launcher with root keys (manifest_trust.h): every floor value's
// name then ends in "@" and the tag, so that a change of online keys starts the floors over
// (a sequence fast-forwarded by a leaked or mistaken key is recovered by rotating it). Empty
// with a built-in key. Set once at start-up, before any floor is read.
extern char SequenceFloorTag[17];

// Both act on PatchChannel's value.
// The highest sequence verified and committed so far; 0 when the key or the value is missing
// (a fresh installation) or holds anything but a REG_QWORD. Failures other than a missing
// key or value are traced.
uint64_t ReadSequenceFloor();

// Raises the floor to sequence when it is below (never lowers it), creating the key when it is
// missing. A failure is traced, never fatal: the kept manifest's own sequence still counts.
void RaiseSequenceFloor(uint64_t sequence);

// Sets value name (type, size bytes at data) under the installation's key in
// HKEY_LOCAL_MACHINE, making the key when missing: where only administrators write. A failure
// is traced with what (the value's purpose) and otherwise ignored.
void SetInstallationValue(const char* what, const char* name, unsigned long type, const void* data,
                          unsigned long size);

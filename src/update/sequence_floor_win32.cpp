// The manifest's rollback floor in the machine's registry, one value a channel: read by the
// launcher and the Updater, raised by the launcher after it commits a newer verified manifest.
#include "update/sequence_floor_win32.h"

#include <windows.h>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "update/patch_channel.h"
#include "update/versions_win32.h"

char SequenceFloorTag[17] = "";

namespace {

// The value of PatchChannel's floor; every channel's manifests are signed on their own
// sequence, so one channel's number floors no other's.
struct FloorValueName {
    char Text[sizeof kSequenceFloorValueName + kChannelNameSize + 1 + sizeof SequenceFloorTag];
    FloorValueName() {
        if (!ChannelFloorValueName(PatchChannel, Text, sizeof Text) ||
            (SequenceFloorTag[0] && (!AppendText(Text, "@") || !AppendText(Text, SequenceFloorTag)))) {
            TraceFailure("sequence floor value", PatchChannel, ERROR_INVALID_NAME);
            Text[0] = '\0';
        }
    }
};

}  // namespace

uint64_t ReadSequenceFloor() {
    const FloorValueName name;
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("sequence floor key", kInstallerRegistryKey, status);
        return 0;
    }
    uint64_t value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    status = RegQueryValueExA(key.Get(), name.Text, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                              &size);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("sequence floor value", name.Text, status);
        return 0;
    }
    // Only an administrator can have written another type here; it floors nothing.
    if (type != REG_QWORD || size != sizeof value) {
        TraceFailure("sequence floor value", name.Text, ERROR_INVALID_DATA);
        return 0;
    }
    return value;
}

void RaiseSequenceFloor(uint64_t sequence) {
    if (sequence <= ReadSequenceFloor()) return;
    const FloorValueName name;
    if (!name.Text[0]) return;
    SetInstallationValue("sequence floor", name.Text, REG_QWORD, &sequence, sizeof sequence);
}

void SetInstallationValue(const char* what, const char* name, unsigned long type, const void* data,
                          unsigned long size) {
    RegistryKey key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) {
        TraceFailure(what, "key", kInstallerRegistryKey, static_cast<unsigned long>(status));
        return;
    }
    status = RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (status != ERROR_SUCCESS) TraceFailure(what, "value", name, static_cast<unsigned long>(status));
}

// Server addresses, temporary names and swap order of the Updater.
#include "updater/update_files.h"

#include <cstring>
#include <initializer_list>

#include "common/bounded_text.h"

namespace {

constexpr std::size_t kMaxProgramNameLength = 200;

bool EndsWithExe(const char* text, std::size_t length) {
    return length > 4 && EqualsIgnoreCase(text + length - 4, ".exe");
}

SwapPlan Plan(std::initializer_list<SwapStep> steps) {
    SwapPlan plan = {};
    for (SwapStep step : steps) plan.steps[plan.count++] = step;
    return plan;
}

}  // namespace

const char* LauncherServerFolder(LauncherArchitecture architecture) {
    return architecture == LauncherArchitecture::X86_64 ? "Launcher64" : "Launcher";
}

bool BuildLauncherPath(char* out, std::size_t size, const char* version, LauncherArchitecture architecture) {
    return FormatText(out, size, "%s/%s/%s", LauncherServerFolder(architecture), version, kDefaultLauncherName);
}

bool BuildInstallerPath(char* out, std::size_t size, const char* version) {
    return FormatText(out, size, "Installer/%s/%s", version, kInstallerName);
}

bool BuildServerUrl(char* out, std::size_t size, const char* base, const char* path) {
    return FormatText(out, size, "%s/%s", base, path);
}

bool BuildLauncherUrl(char* out, std::size_t size, const char* base, const char* version,
                      LauncherArchitecture architecture) {
    char path[kManifestPathSize];
    return BuildLauncherPath(path, sizeof path, version, architecture) && BuildServerUrl(out, size, base, path);
}

bool BuildInstallerUrl(char* out, std::size_t size, const char* base, const char* version) {
    char path[kManifestPathSize];
    return BuildInstallerPath(path, sizeof path, version) && BuildServerUrl(out, size, base, path);
}

bool IsProgramFileName(const char* name) {
    std::size_t length = std::strlen(name);
    if (length > kMaxProgramNameLength || !EndsWithExe(name, length)) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) return false;
    }
    // ".exe" alone, or a name Windows would trim, is no file of its own.
    return name[0] != ' ' && name[0] != '.';
}

bool SplitTemporaryName(const char* name, const char* suffix, char* program, std::size_t size) {
    const std::size_t length = std::strlen(name);
    const std::size_t suffixLength = std::strlen(suffix);
    if (length <= suffixLength || !EqualsIgnoreCase(name + length - suffixLength, suffix)) return false;
    const std::size_t programLength = length - suffixLength;
    if (programLength >= size) return false;
    std::memcpy(program, name, programLength);
    program[programLength] = '\0';
    return IsProgramFileName(program);
}

SwapPlan PlanSwap(bool launcherExists) {
    // A rename over the old name replaces it in one step, so the launcher's name never goes
    // without a whole file; the second name keeps the old one for PlanUndo.
    if (!launcherExists) return Plan({SwapStep::MoveNewInPlace});
    return Plan({SwapStep::KeepOldAside, SwapStep::MoveNewInPlace});
}

SwapPlan PlanFinish() { return Plan({SwapStep::RemoveOld}); }

SwapPlan PlanUndo() { return Plan({SwapStep::PutOldBack}); }

SwapPlan PlanRepair(bool launcherExists, bool replacedExists, bool downloadExists) {
    SwapPlan plan = {};
    if (replacedExists) plan.steps[plan.count++] = launcherExists ? SwapStep::RemoveOld : SwapStep::PutOldBack;
    if (downloadExists) plan.steps[plan.count++] = SwapStep::RemoveDownload;
    return plan;
}

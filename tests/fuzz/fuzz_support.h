// What the fuzz targets share: an invariant check that ends the run with a message (libFuzzer
// then keeps the input), and a private scratch folder for the code that reads files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include <unistd.h>

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                         \
    do {                                                              \
        if (!(condition)) FuzzFail(__FILE__, __LINE__, #condition);   \
    } while (0)

// True when text holds a NUL within its size bytes.
inline bool TerminatedWithin(const char* text, std::size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

// A folder of its own under $TMPDIR for this process (two runs of a target can share a
// machine), removed with the files named through PathIn when the process ends normally.
class ScratchFolder {
public:
    static ScratchFolder& Get() {
        static ScratchFolder folder;
        return folder;
    }

    const std::string& path() const { return path_; }

    std::string PathIn(const char* name) {
        names_.insert(name);
        return path_ + "/" + name;
    }

    // Replaces the file with exactly these bytes. A new file each time: ext4 flushes a file
    // truncated and written again when it is closed, which would make every run wait for
    // the disk.
    bool Write(const char* name, const uint8_t* data, std::size_t size) {
        const std::string path = PathIn(name);
        std::remove(path.c_str());
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
        return std::fclose(file) == 0 && ok;
    }

private:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/launcher-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) FuzzFail(__FILE__, __LINE__, "mkdtemp");
        path_ = pattern;
    }
    ~ScratchFolder() {
        for (const std::string& name : names_) std::remove((path_ + "/" + name).c_str());
        rmdir(path_.c_str());
    }

    std::string path_;
    std::set<std::string> names_;
};

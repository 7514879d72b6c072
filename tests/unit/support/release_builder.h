// A writer of release manifests for tests: a model with every field in the open, settled into
// a valid manifest and then, for the refusals, bent one field at a time.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "content_format/content_release.h"

using TestHash = std::array<uint8_t, kReleaseHashSize>;

// A chunk's name in a test: its label in the first four bytes, a fixed pattern after them.
inline TestHash HashOf(uint32_t label) {
    TestHash hash;
    for (std::size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(0xA5 ^ (i * 7));
    for (int i = 0; i < 4; ++i) hash[i] = static_cast<uint8_t>(label >> (24 - 8 * i));
    return hash;
}

struct ModelPack {
    uint32_t Release;
    uint32_t Index;
    uint64_t Size;
};

struct ModelChunk {
    TestHash Sha256;
    uint32_t RawSize;
    uint32_t StoredSize;
    uint32_t Pack;
    uint32_t Offset;
};

struct ModelFile {
    std::string Path;
    std::vector<uint32_t> Chunks;  // chunk indexes, in the file's order
    uint64_t Size = 0;
    uint32_t FirstReference = 0;
    uint32_t ReferenceCount = 0;
    uint32_t PathOffset = 0;
    uint16_t PathLength = 0;
    uint16_t Flags = 0;
};

struct ModelDelta {
    uint32_t File = 0;
    uint32_t BaseRelease = 0;
    TestHash BaseSha256{};
    uint64_t BaseSize = 0;
    uint32_t Pack = 0;
    uint32_t Offset = 0;
    uint32_t StoredSize = 1;
    TestHash Sha256{};
    uint32_t Reserved = 0;
};

struct ReleaseModel {
    std::string Magic = kReleaseMagic;
    uint32_t Release = 10;
    uint32_t ChunkMin = 16384;
    uint32_t ChunkAvg = 65536;
    uint32_t ChunkMax = 262144;
    std::vector<ModelPack> Packs;
    std::vector<ModelChunk> Chunks;
    std::vector<ModelFile> Files;
    std::vector<ModelDelta> Deltas;
    std::string PathTable;  // Settle writes the paths back to back
    std::vector<uint64_t> PackEnds;  // where AddChunk puts the next chunk of each pack

    uint32_t AddPack(uint32_t release, uint32_t index) {
        Packs.push_back(ModelPack{release, index, 0});
        return static_cast<uint32_t>(Packs.size() - 1);
    }

    // A chunk stored right after the last one of its pack, gap bytes further on (frames no
    // chunk of this release uses). Returns its index.
    uint32_t AddChunk(uint32_t label, uint32_t rawSize, uint32_t storedSize, uint32_t pack = 0, uint32_t gap = 0) {
        if (PackEnds.size() <= pack) PackEnds.resize(pack + 1, 0);
        const uint32_t offset = static_cast<uint32_t>(PackEnds[pack] + gap);
        PackEnds[pack] = uint64_t{offset} + storedSize;
        Chunks.push_back(ModelChunk{HashOf(label), rawSize, storedSize, pack, offset});
        return static_cast<uint32_t>(Chunks.size() - 1);
    }

    void AddFile(const std::string& path, std::vector<uint32_t> chunks) {
        ModelFile file;
        file.Path = path;
        file.Chunks = std::move(chunks);
        Files.push_back(file);
    }

    // Every derived field from the others: file sizes, reference ranges, path offsets and
    // lengths, pack sizes just covering their chunks.
    ReleaseModel& Settle() {
        PathTable.clear();
        uint32_t reference = 0;
        for (ModelFile& f : Files) {
            f.Size = 0;
            for (uint32_t c : f.Chunks) f.Size += Chunks[c].RawSize;
            f.FirstReference = reference;
            f.ReferenceCount = static_cast<uint32_t>(f.Chunks.size());
            reference += f.ReferenceCount;
            f.PathOffset = static_cast<uint32_t>(PathTable.size());
            f.PathLength = static_cast<uint16_t>(f.Path.size());
            PathTable += f.Path;
        }
        for (ModelPack& p : Packs) p.Size = 0;
        for (const ModelChunk& c : Chunks)
            if (c.Pack < Packs.size() && c.Offset + uint64_t{c.StoredSize} > Packs[c.Pack].Size)
                Packs[c.Pack].Size = c.Offset + uint64_t{c.StoredSize};
        return *this;
    }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out(Magic.begin(), Magic.end());
        uint32_t references = 0;
        for (const ModelFile& f : Files) references += static_cast<uint32_t>(f.Chunks.size());
        for (uint32_t v : {Release, ChunkMin, ChunkAvg, ChunkMax, Count(Packs), Count(Chunks), Count(Files), references,
                           Count(Deltas), static_cast<uint32_t>(PathTable.size())})
            Put(&out, v, 4);
        for (const ModelPack& p : Packs) {
            Put(&out, p.Release, 4);
            Put(&out, p.Index, 4);
            Put(&out, p.Size, 8);
        }
        for (const ModelChunk& c : Chunks) {
            out.insert(out.end(), c.Sha256.begin(), c.Sha256.end());
            for (uint32_t v : {c.RawSize, c.StoredSize, c.Pack, c.Offset}) Put(&out, v, 4);
        }
        for (const ModelFile& f : Files) {
            Put(&out, f.Size, 8);
            for (uint32_t v : {f.FirstReference, f.ReferenceCount, f.PathOffset}) Put(&out, v, 4);
            Put(&out, f.PathLength, 2);
            Put(&out, f.Flags, 2);
        }
        for (const ModelFile& f : Files)
            for (uint32_t c : f.Chunks) Put(&out, c, 4);
        for (const ModelDelta& d : Deltas) {
            Put(&out, d.File, 4);
            Put(&out, d.BaseRelease, 4);
            out.insert(out.end(), d.BaseSha256.begin(), d.BaseSha256.end());
            Put(&out, d.BaseSize, 8);
            for (uint32_t v : {d.Pack, d.Offset, d.StoredSize}) Put(&out, v, 4);
            out.insert(out.end(), d.Sha256.begin(), d.Sha256.end());
            Put(&out, d.Reserved, 4);
        }
        out.insert(out.end(), PathTable.begin(), PathTable.end());
        return out;
    }

    template <typename T>
    static uint32_t Count(const std::vector<T>& v) { return static_cast<uint32_t>(v.size()); }

    static void Put(std::vector<uint8_t>* out, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
};

// Where a header field sits, for tests that bend a count after the tables were written.
inline void PutU32At(std::vector<uint8_t>* bytes, std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

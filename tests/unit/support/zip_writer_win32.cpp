// ZipWriter: zip archives built in memory with zlib's deflate and crc32.
#include "support/zip_writer.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr uint16_t kDosTime = (12 << 11) | (30 << 5);             // 12:30:00
constexpr uint16_t kDosDate = ((2026 - 1980) << 9) | (12 << 5) | 8;  // 2026-12-08

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

unsigned long Crc(const std::string& data) {
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                 static_cast<uInt>(data.size()));
}

// Raw deflate of data; flush decides how the stream ends (Z_FINISH for a complete stream,
// Z_FULL_FLUSH for one that stops byte-aligned so more blocks can follow).
std::string RawDeflate(const std::string& data, int flush) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, flush);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

ZipWriter& ZipWriter::Add(Entry entry) {
    entries_.push_back(std::move(entry));
    return *this;
}

ZipWriter& ZipWriter::Stored(const std::string& name, const std::string& data) {
    return Add({name, data, Crc(data), data.size(), 0, false, false});
}

ZipWriter& ZipWriter::Deflated(const std::string& name, const std::string& data) {
    return Add({name, RawDeflate(data, Z_FINISH), Crc(data), data.size(), 8, false, false});
}

ZipWriter& ZipWriter::WithMethod(const std::string& name, const std::string& data, unsigned short method) {
    return Add({name, data, Crc(data), data.size(), method, false, false});
}

ZipWriter& ZipWriter::Directory(const std::string& name) {
    return Add({name, std::string(), 0, 0, 0, true, false});
}

ZipWriter& ZipWriter::DamagedAfter(const std::string& name, const std::string& data, std::size_t goodBytes) {
    std::string packed = RawDeflate(data.substr(0, goodBytes), Z_FULL_FLUSH);
    // Final bit set, block type 3: a type deflate does not have, so inflate stops with an error.
    packed += '\x07';
    packed += std::string(16, '\0');
    return Add({name, packed, Crc(data), data.size(), 8, false, false});
}

ZipWriter& ZipWriter::BadLocalHeader(const std::string& name, const std::string& data) {
    return Add({name, data, Crc(data), data.size(), 0, false, true});
}

ZipWriter& ZipWriter::AnnounceEntries(int count) {
    announced_ = count;
    return *this;
}

ZipWriter& ZipWriter::Comment(const std::string& text) {
    comment_ = text;
    return *this;
}

// The fields that the local header and the central directory entry share, in their order.
void ZipWriter::PutSharedFields(std::string& out, const Entry& e) {
    Put16(out, e.method);
    Put16(out, kDosTime);
    Put16(out, kDosDate);
    Put32(out, static_cast<uint32_t>(e.crc));
    Put32(out, static_cast<uint32_t>(e.packed.size()));
    Put32(out, static_cast<uint32_t>(e.size));
    Put16(out, static_cast<uint32_t>(e.name.size()));
}

std::string ZipWriter::Bytes() const {
    std::string out;
    std::vector<uint32_t> offsets;
    for (const Entry& e : entries_) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        Put32(out, e.badLocalHeader ? 0x04034b51u : 0x04034b50u);
        Put16(out, 20);
        Put16(out, 0);
        PutSharedFields(out, e);
        Put16(out, 0);
        out += e.name;
        out += e.packed;
    }
    uint32_t directoryStart = static_cast<uint32_t>(out.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        Put32(out, 0x02014b50u);
        Put16(out, 20);
        Put16(out, 20);
        Put16(out, 0);
        PutSharedFields(out, e);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, e.directory ? 0x10u : 0x20u);
        Put32(out, offsets[i]);
        out += e.name;
    }
    uint32_t directorySize = static_cast<uint32_t>(out.size()) - directoryStart;
    uint32_t count = announced_ >= 0 ? static_cast<uint32_t>(announced_) : static_cast<uint32_t>(entries_.size());
    Put32(out, 0x06054b50u);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, count);
    Put16(out, count);
    Put32(out, directorySize);
    Put32(out, directoryStart);
    Put16(out, static_cast<uint32_t>(comment_.size()));
    return out + comment_;
}

std::string TestBytes(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    uint32_t state = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        // Runs of one letter every so often, noise in between: deflate gets some work.
        out[i] = (i / 64) % 3 == 0 ? static_cast<char>('a' + (i / 192) % 26) : static_cast<char>(state >> 24);
    }
    return out;
}

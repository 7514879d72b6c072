// A small zip writer for tests: stored and deflated entries, directory entries, and the
// damaged shapes the extraction has to survive. Windows tests only (it uses zlib).
#pragma once

#include <string>
#include <vector>

class ZipWriter {
public:
    // An entry whose data is kept as it is (method 0).
    ZipWriter& Stored(const std::string& name, const std::string& data);
    // An entry compressed with raw deflate (method 8).
    ZipWriter& Deflated(const std::string& name, const std::string& data);
    // An entry that claims the given method (9 is Deflate64, 12 bzip2, 14 LZMA); data is
    // kept as it is.
    ZipWriter& WithMethod(const std::string& name, const std::string& data, unsigned short method);
    // A directory entry; the name should end in "/" or "\".
    ZipWriter& Directory(const std::string& name);
    // A deflated entry whose data inflates correctly for its first goodBytes bytes of data
    // and then hits an invalid block, so reading it fails part-way.
    ZipWriter& DamagedAfter(const std::string& name, const std::string& data, std::size_t goodBytes);
    // A stored entry whose local header carries a wrong signature, so it cannot be opened.
    ZipWriter& BadLocalHeader(const std::string& name, const std::string& data);
    // The end record announces this many entries instead of the real count.
    ZipWriter& AnnounceEntries(int count);
    // The archive comment at the end of the end record.
    ZipWriter& Comment(const std::string& text);

    // The archive's bytes: local headers with data, central directory, end record.
    std::string Bytes() const;

private:
    struct Entry {
        std::string name;
        std::string packed;
        unsigned long crc;
        std::size_t size;
        unsigned short method;
        bool directory;
        bool badLocalHeader;
    };
    ZipWriter& Add(Entry entry);
    static void PutSharedFields(std::string& out, const Entry& e);
    std::vector<Entry> entries_;
    int announced_ = -1;
    std::string comment_;
};

// Deterministic bytes that compress somewhat (a mix of runs and noise), for entry data.
std::string TestBytes(std::size_t size, unsigned seed);

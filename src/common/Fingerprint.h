#pragma once
// What a photograph's file looked like when it was read: its size, its
// modification time and a hash of every byte read. A save compares the file
// it is about to build from with the fingerprint taken at load, so that a
// file replaced or changed in between is never spliced with the old edits.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scarlex {

// A running hash of a byte stream; the same bytes give the same value
// however they are split into pieces.
class ByteHasher {
public:
    void Add(std::span<const uint8_t> bytes);
    void Add(const void* data, std::size_t size) { Add({static_cast<const uint8_t*>(data), size}); }
    uint64_t Value() const;
    uint64_t Count() const { return count_; }

private:
    uint64_t state_ = 0x6a09e667f3bcc909ULL;
    uint64_t pending_ = 0;  // bytes not yet folded in, low byte first
    int pendingBytes_ = 0;
    uint64_t count_ = 0;
};

struct FileFingerprint {
    bool known = false;
    uint64_t size = 0;        // bytes read, which is the whole file
    int64_t mtimeNs = 0;      // modification time, nanoseconds since the epoch
    uint64_t hash = 0;        // ByteHasher over those bytes

    // Same size, time and content.
    bool Matches(const FileFingerprint& other) const {
        return known && other.known && size == other.size && mtimeNs == other.mtimeNs && hash == other.hash;
    }
};

// Reads the whole file and fingerprints it; if `copyTo` is given, also
// writes the bytes read to that new file (created, never replaced), so the
// copy is exactly what was fingerprinted. "" or the reason.
std::string FingerprintFile(const std::string& path, FileFingerprint& out, const std::string& copyTo = {});
// Reads the whole file into `bytes` and fingerprints what was read, in one
// pass. "" or the reason; on failure `bytes` is emptied.
std::string ReadFingerprinted(const std::string& path, FileFingerprint& out, std::vector<uint8_t>& bytes);

// Modification time of an open file, in nanoseconds.
int64_t ModificationTimeNs(int fd);

}  // namespace scarlex

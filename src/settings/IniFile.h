#pragma once
// The profile (INI) functions the settings rely on, written for Linux.
//
// Reading: lines end at LF, CR LF or a lone CR; section and key names match
// without regard to case; a value is everything after the first '=' of its
// line, kept as it stands (leading and trailing spaces included), and at
// most 2047 characters of it come back.
// Integers are decimal, or hexadecimal after 0x/0X when the text is longer
// than two characters; a value that is not an integer gives the default.
// Booleans are integers, non-zero meaning true.
//
// Writing goes straight through to the file at every call, as the profile
// functions do. Keys are never deleted; other sections, unknown keys, blank
// lines and comments survive. The file is written beside itself and then
// renamed over the old one, so a failed write leaves it as it was; the
// failure raises IniWriteError "Unable to write to <file>".

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace scarlex {

class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string& fileName);
};

// Reads "123", "-5", "0x00FF00"; nothing else. Spaces around the number are
// allowed. The value must fit 32 bits (hexadecimal may use all 32).
bool ParseIniInteger(const std::string& text, int32_t& value);

class IniFile {
public:
    static constexpr std::size_t kMaxValueLength = 2047;
    // Larger files are not ours: they read as empty and are never rewritten.
    static constexpr std::uintmax_t kMaxFileSize = 1u << 20;

    // Reads the file if it is there; a missing, unreadable or oversized
    // file reads as empty.
    explicit IniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // The writes between BeginWrites and CommitWrites reach the file once,
    // at CommitWrites (which throws IniWriteError as a write would), instead
    // of a rewrite flushed to the disk for every key.
    void BeginWrites() { batching_ = true; }
    void CommitWrites();

private:
    struct Found {
        std::size_t section = npos;  // line of "[section]"
        std::size_t end = 0;         // one past the section's last line
        std::size_t key = npos;      // line of the key
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    Found Find(const std::string& section, const std::string& key) const;
    void Flush(const std::vector<std::string>& lines) const;

    std::string fileName_;
    std::vector<std::string> lines_;
    // Set when a file exists that could not be read whole: writing it would
    // throw away what we could not see.
    bool unreadable_ = false;
    bool batching_ = false;
    bool pending_ = false;  // lines_ holds writes the file has not had yet
};

}  // namespace scarlex

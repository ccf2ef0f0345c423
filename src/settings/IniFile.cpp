#include "settings/IniFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Paths.h"
#include "common/SafeWrite.h"

namespace scarlex {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "[name]" (spaces allowed around it): the name, or false.
bool SectionName(const std::string& line, std::string& name) {
    std::size_t b = 0;
    while (b < line.size() && IsBlank(line[b])) ++b;
    if (b == line.size() || line[b] != '[') return false;
    std::size_t close = line.find(']', b + 1);
    name = Trim(line.substr(b + 1, close == std::string::npos ? std::string::npos : close - b - 1));
    return true;
}

// A key line's key, or false for lines without '='.
bool KeyName(const std::string& line, std::string& key) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(line.substr(0, eq));
    return true;
}

bool BlankLine(const std::string& line) { return Trim(line).empty(); }

// A value is one line: a line break in it would make new keys of its rest.
std::string OneLine(std::string value) {
    for (char& c : value)
        if (c == '\n' || c == '\r') c = ' ';
    return value;
}

}  // namespace

IniWriteError::IniWriteError(const std::string& fileName) : std::runtime_error("Unable to write to " + fileName) {}

bool ParseIniInteger(const std::string& text, int32_t& value) {
    std::string s = Trim(text);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() - 2 > 8) return false;
        uint32_t v = 0;
        auto [end, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), v, 16);
        if (ec != std::errc() || end != s.data() + s.size()) return false;
        value = static_cast<int32_t>(v);
        return true;
    }
    std::size_t start = (!s.empty() && s[0] == '+') ? 1 : 0;
    if (start == 1 && s.size() > 1 && s[1] == '-') return false;
    int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v, 10);
    if (s.size() == start || ec != std::errc() || end != s.data() + s.size()) return false;
    value = v;
    return true;
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {
    struct stat st {};
    if (::stat(fileName_.c_str(), &st) != 0) {
        // Missing is normal; anything else (a folder we cannot search) is not.
        unreadable_ = errno != ENOENT && errno != ENOTDIR;
        return;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxFileSize) {
        unreadable_ = true;
        return;
    }
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) {
        unreadable_ = true;
        return;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || text.size() > kMaxFileSize) {
        unreadable_ = true;
        return;
    }
    // A line ends at "\n", "\r\n" or a lone "\r": a carriage return left
    // inside a value would come back as a space after the next write.
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        lines_.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) break;
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

IniFile::Found IniFile::Find(const std::string& section, const std::string& key) const {
    Found f;
    std::string name;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name)) {
            if (f.section != npos) {
                f.end = i;
                return f;
            }
            if (SameName(name, section)) f.section = i;
            continue;
        }
        if (f.section != npos && f.key == npos && KeyName(lines_[i], name) && SameName(name, key)) f.key = i;
    }
    if (f.section != npos) f.end = lines_.size();
    return f;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Find(section, key).key != npos;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    Found f = Find(section, key);
    if (f.key == npos) return def;
    const std::string& line = lines_[f.key];
    std::string value = line.substr(line.find('=') + 1);
    if (value.size() > kMaxValueLength) {
        std::size_t cut = kMaxValueLength;
        // Do not split a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
        value.resize(cut);
    }
    return value;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    int32_t value = def;
    if (!ParseIniInteger(ReadString(section, key, {}), value)) return def;
    return value;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    std::vector<std::string> lines = lines_;
    std::string entry = key + "=" + OneLine(value);
    Found f = Find(section, key);
    if (f.key != npos) {
        lines[f.key] = entry;
    } else if (f.section != npos) {
        std::size_t at = f.end;
        while (at > f.section + 1 && BlankLine(lines[at - 1])) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
        if (!lines.empty() && !BlankLine(lines.back())) lines.emplace_back();
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    }
    if (batching_) {
        lines_ = std::move(lines);
        pending_ = true;
        return;
    }
    Flush(lines);
    lines_ = std::move(lines);
}

void IniFile::CommitWrites() {
    batching_ = false;
    if (!pending_) return;
    Flush(lines_);
    pending_ = false;
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::Flush(const std::vector<std::string>& lines) const {
    if (unreadable_ || fileName_.empty()) throw IniWriteError(fileName_);
    std::string folder = ExtractFilePath(fileName_);
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) throw IniWriteError(fileName_);
    }
    FileBeside file(fileName_);
    std::FILE* out = file.ok() ? file.Stream() : nullptr;
    if (!out) throw IniWriteError(fileName_);
    bool ok = true;
    for (const std::string& line : lines) {
        ok = ok && std::fwrite(line.data(), 1, line.size(), out) == line.size();
        ok = ok && std::fputc('\n', out) != EOF;
    }
    if (!ok || !file.Commit().empty()) throw IniWriteError(fileName_);
}

}  // namespace scarlex

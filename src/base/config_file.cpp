#include "base/config_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/log_file.h"

namespace {

bool isTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

ConfigFile::~ConfigFile() {
    close();
}

bool ConfigFile::load(const std::string& path, uint32_t capacity) {
    m_capacity = capacity < 2 ? 2 : capacity;
    m_text = std::make_unique<char[]>(m_capacity);
    m_path = path;
    m_text[0] = '\0';
    m_length = 0;
    m_dirty = false;
    m_partial = false;

    FILE* file = fopen(path.c_str(), "r");
    if (!file) {
        printf("error in opening file!\n");
        return false;
    }
    // Room is kept for a final line break and the terminating zero.
    const size_t room = m_capacity - 2;
    size_t length = fread(m_text.get(), 1, room, file);
    if (length == room && fgetc(file) != EOF) {
        m_partial = true;
        gLog.warn(
            "%s is larger than %u bytes: only its beginning is used and it is not rewritten\n",
            path.c_str(), unsigned(room));
    }
    fclose(file);
    if (length == 0 || m_text[length - 1] != '\n') m_text[length++] = '\n';
    m_text[length] = '\0';
    m_length = uint32_t(length);
    return true;
}

int64_t ConfigFile::findLine(const std::string& key, bool setting) const {
    if (!m_text || key.empty()) return -1;
    const char* text = m_text.get();
    for (uint32_t at = 0; at + key.size() <= m_length;) {
        if (std::memcmp(text + at, key.data(), key.size()) == 0) {
            uint32_t after = at + uint32_t(key.size());
            const char next = after < m_length ? text[after] : '\n';
            if (!setting && !std::isalnum(static_cast<unsigned char>(next)) && next != '_' &&
                next != '.' && next != '-')
                return at;
            while (after < m_length && (text[after] == ' ' || text[after] == '\t'))
                ++after;
            if (setting && after < m_length && text[after] == '=') return at;
        }
        const void* next = std::memchr(text + at, '\n', m_length - at);
        if (!next) break;
        at = uint32_t(static_cast<const char*>(next) - text) + 1;
    }
    return -1;
}

uint32_t ConfigFile::lineEnd(uint32_t lineStart) const {
    const void* end = std::memchr(m_text.get() + lineStart, '\n', m_length - lineStart);
    // load() makes the text end with "\n", and set() keeps it so.
    return end ? uint32_t(static_cast<const char*>(end) - m_text.get()) : m_length;
}

bool ConfigFile::get(const std::string& key, std::string& value) const {
    const int64_t found = findLine(key);
    if (found < 0) return false;
    const uint32_t start = uint32_t(found);
    const uint32_t end = lineEnd(start);
    // The last line of a file that did not fit ends where the buffer did, not where it did.
    if (m_partial && end + 1 >= m_length) return false;
    const char* line = m_text.get() + start;
    const void* equals = std::memchr(line, '=', end - start);
    if (!equals) return false;
    const char* first = static_cast<const char*>(equals) + 1;
    const char* last = m_text.get() + end;
    while (first < last && isTrimmed(*first))
        ++first;
    while (last > first && isTrimmed(last[-1]))
        --last;
    value.assign(first, last);
    return true;
}

bool ConfigFile::isWholeText() const {
    if (!m_text || m_partial) return !m_partial;
    const auto* bytes = reinterpret_cast<const uint8_t*>(m_text.get());
    for (uint32_t i = 0; i < m_length;) {
        const uint8_t byte = bytes[i];
        if (byte == 0) return false;
        const int length = byte < 0x80         ? 1
                           : (byte >> 5) == 6  ? 2
                           : (byte >> 4) == 14 ? 3
                           : (byte >> 3) == 30 ? 4
                                               : 0;
        if (length == 0 || i + uint32_t(length) > m_length) return false;
        for (int k = 1; k < length; ++k)
            if ((bytes[i + uint32_t(k)] & 0xC0) != 0x80) return false;
        i += uint32_t(length);
    }
    return true;
}

std::string ConfigFile::get(const std::string& key, const std::string& defaultValue) const {
    std::string value;
    return get(key, value) ? value : defaultValue;
}

bool ConfigFile::getInt(const std::string& key, int* value) const {
    std::string text;
    if (!get(key, text)) return false;
    *value = atoi(text.c_str());
    return true;
}

int ConfigFile::getInt(const std::string& key, int defaultValue) const {
    std::string text;
    int value = 0;
    if (get(key, text) && sscanf(text.c_str(), "%d", &value) == 1) return value;
    return defaultValue;
}

bool ConfigFile::set(const std::string& key, const std::string& value) {
    if (!m_text) return false;
    if (m_partial) {
        gLog.warn("%s was loaded only in part: the setting %s is not stored\n", m_path.c_str(),
                  key.c_str());
        return false;
    }
    const std::string line = key + "=" + value;
    if (line.find('\n') != std::string::npos) {
        gLog.warn("a setting must be one line: %s is not stored\n", key.c_str());
        return false;
    }
    const int64_t found = findLine(key);
    const uint32_t start = found < 0 ? m_length : uint32_t(found);
    // The replaced span excludes the line's "\n"; an appended line brings its own.
    const uint32_t end = found < 0 ? m_length : lineEnd(start);
    const std::string replacement = found < 0 ? line + "\n" : line;
    const uint64_t newLength = uint64_t(m_length) - (end - start) + replacement.size();
    if (newLength + 1 > m_capacity) {
        gLog.warn("%s: the setting %s does not fit into %u bytes and is not stored\n",
                  m_path.c_str(), key.c_str(), m_capacity);
        return false;
    }
    char* text = m_text.get();
    std::memmove(text + start + replacement.size(), text + end, m_length - end + 1);
    std::memcpy(text + start, replacement.data(), replacement.size());
    m_length = uint32_t(newLength);
    m_dirty = true;
    return true;
}

bool ConfigFile::setInt(const std::string& key, int value) {
    return set(key, std::to_string(value));
}

bool ConfigFile::save() {
    if (!m_dirty) return true;
    FILE* file = fopen(m_path.c_str(), "w");
    if (!file) return false;
    const bool written = fwrite(m_text.get(), 1, m_length, file) == m_length;
    if (fclose(file) != 0 || !written) return false;
    m_dirty = false;
    return true;
}

void ConfigFile::close() {
    if (!m_text) return;
    save();
    m_text.reset();
    m_length = 0;
    m_capacity = 0;
}

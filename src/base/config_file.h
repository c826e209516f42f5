#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A key=value store over one file, held as text in a fixed buffer. A setting is a line that
// begins with the key, then "=" and the value; every other line is kept as it is and written
// back with the rest. Lookups search the text; set() edits it in place; nothing reaches the disk
// until save() or close(), and then only if something was changed.
//
// The whole text (with the terminating zero) must fit the capacity given to load(): a set() that
// would not fit is refused with a log warning, and a file larger than the buffer is loaded only
// in part and is then never written back, so that nothing beyond the buffer is lost.
//
// Threads: one store is used by one thread (start-up, then the settings dialog on the GUI thread).
class ConfigFile {
public:
    ConfigFile() = default;
    ~ConfigFile();
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    // Returns false (printing "error in opening file!") when the file cannot be read; the store
    // then holds an empty text and may only be closed.
    bool load(const std::string& path, uint32_t capacity);

    // The value of the first line that begins with key, trimmed of blanks, tabs, carriage
    // returns and line feeds. False (value untouched) when there is no such line, it has no "=",
    // or it was cut off by the end of the buffer.
    bool get(const std::string& key, std::string& value) const;
    std::string get(const std::string& key, const std::string& defaultValue) const;
    bool getInt(const std::string& key, int* value) const;
    int getInt(const std::string& key, int defaultValue) const;

    // Replaces the first line that begins with key, or appends "key=value". Returns false when
    // the change is refused (it would not fit, or the file was loaded only in part).
    bool set(const std::string& key, const std::string& value);
    bool setInt(const std::string& key, int value);

    // Writes the text back if it was changed. False when the file cannot be written (the store
    // then stays changed).
    bool save();
    // save(), then frees the buffer. Safe to call twice.
    void close();

    const char* text() const { return m_text ? m_text.get() : ""; }
    // Whether some line begins with key as a whole word (usable as a setting or not: a line
    // "video.folder /x/" counts, "video.folder_old=/x/" does not).
    bool hasLine(const std::string& key) const { return findLine(key, false) >= 0; }
    // Whether the text is UTF-8 without zero bytes; false also when it did not fit the buffer.
    bool isWholeText() const;
    bool dirty() const { return m_dirty; }

private:
    // Offset of the first line that begins with key followed by optional blanks and "=" (with
    // setting false: by anything that cannot continue a name), or -1.
    int64_t findLine(const std::string& key, bool setting = true) const;
    // Offset of the "\n" that ends the line starting at lineStart.
    uint32_t lineEnd(uint32_t lineStart) const;

    std::string m_path;
    std::unique_ptr<char[]> m_text;  // m_length bytes of text, then a zero
    uint32_t m_capacity = 0;
    uint32_t m_length = 0;
    bool m_dirty = false;
    bool m_partial = false;  // the file did not fit the buffer
};

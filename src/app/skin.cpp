#include "app/skin.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/log_file.h"
#include "ui/utf8_text.h"

QString loadSkin() {
    FILE* file = fopen("default.skin", "rb");
    if (!file) {
        gLog.info("no default.skin: the program runs with no style sheet\n");
        return QString();
    }
    QString skin;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size > 0 && fseek(file, 0, SEEK_SET) == 0) {
        std::vector<char> text(size_t(size) + 1);
        const size_t read = fread(text.data(), 1, size_t(size), file);
        if (read > 0) {
            text[read] = '\0';
            if (std::memchr(text.data(), 0, read))
                gLog.warn("default.skin is not text: the look may be wrong\n");
            skin = utf8ToQString(text.data(), read);
        }
    }
    fclose(file);
    if (skin.isEmpty()) gLog.info("default.skin is empty: the program runs with no style sheet\n");
    return skin;
}

#include "app/skin.h"

#include <cstdio>
#include <vector>

#include "app/log_file.h"
#include "app/utf8_text.h"

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
            skin = utf8ToQString(text.data(), read);
        }
    }
    fclose(file);
    return skin;
}

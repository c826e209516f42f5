#include <unistd.h>

#include <QApplication>
#include <QtGlobal>

#include <cstring>

#include "app/environment.h"
#include "app/log_file.h"
#include "app/skin.h"

namespace {

int sinkToQtDebug(int /*level*/, const char* message) {
    // Qt ends each debug line itself.
    int length = int(strlen(message));
    if (length > 0 && message[length - 1] == '\n') --length;
    qDebug("%.*s", length, message);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Configuration, style sheet and log are found beside the executable, wherever it is
    // started from.
    const std::string dir = moduleDirectory();
    if (chdir(dir.c_str()) != 0) {
    }

    if (gLog.open("glimmora.log.txt", "a") != 0) return 0;
    gLog.setLevel(LogFile::kDebug);
    gLog.setSink(sinkToQtDebug);
    gLog.info("------------ * program start * -----------\n");

    loadConfig();
    if (videoFolder.empty()) videoFolder = defaultVideoFolder();
    gLog.info("video folder: %s\n", videoFolder.c_str());

    {
        QApplication app(argc, argv);
        app.setStyleSheet(loadSkin());
        app.exec();
    }
    return 0;
}

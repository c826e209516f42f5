#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/environment.h"
#include "app/skin.h"
#include "base/log_file.h"
#include "pipeline/avi_recovery.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "ui/glimmora.h"

namespace {

int sinkToQtDebug(int /*level*/, const char* message) {
    // Qt ends each debug line itself.
    int length = int(strlen(message));
    if (length > 0 && message[length - 1] == '\n') --length;
    qDebug("%.*s", length, message);
    return 0;
}

// SIGTERM (the session ends), SIGHUP (the terminal it was started from closes) and SIGINT
// (Ctrl-C) close the windows as the user would, so that a running recording is finished into a
// playable file. The handler only writes to a pipe; the GUI thread reads it.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    if (write(signalPipe[1], &byte, 1) < 0) {
    }
}

std::unique_ptr<QSocketNotifier> closeOnTerminationSignals(QApplication& app) {
    if (pipe(signalPipe) != 0) return nullptr;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&app] {
        char byte;
        if (read(signalPipe[0], &byte, 1) < 0) return;
        gLog.info("asked to end: closing the windows\n");
        QApplication::closeAllWindows();
        app.quit();
    });
    return notifier;
}

// Qt ends the process when its display connection breaks: with exit() when an X11 session ends
// under the program, with _exit() after a warning when the Wayland compositor goes away. A
// running recording is finished on the way out, so that the file plays without a repair at the
// next start. The studio is the GUI thread's: when another thread (Qt's Wayland event reader)
// ends the process, it asks the GUI thread to finish the recording, and waits a few seconds
// until it has, also when the GUI thread began on its own. studioToFinish and finishing are
// written by the GUI thread only.
std::atomic<Studio*> studioToFinish{nullptr};
std::atomic<bool> finishing{false};  // the GUI thread is finishing the recording
std::thread::id guiThread;
constexpr int kFinishWaitMs = 5000;

void finishRecordingAtExit() {
    if (std::this_thread::get_id() == guiThread) {
        finishing.store(true);
        Studio* studio = studioToFinish.exchange(nullptr);
        if (studio && studio->isRecording()) {
            gLog.warn("ending while recording: finishing %s first\n",
                      studio->recording().fileName().c_str());
            studio->stopRecording();
        }
        finishing.store(false);
        return;
    }
    if (studioToFinish.load())
        QMetaObject::invokeMethod(
            qApp, [] { finishRecordingAtExit(); }, Qt::QueuedConnection);
    for (int waited = 0; studioToFinish.load() || finishing.load(); waited += 10) {
        if (waited >= kFinishWaitMs) {
            gLog.error(
                "ending outside the GUI thread, which did not answer: a running recording is "
                "left to be repaired at the next start\n");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Qt's own warnings (a style sheet it cannot parse, a font it cannot find) go into the log too.
QtMessageHandler qtDefaultHandler = nullptr;

void logQtWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg || type == QtCriticalMsg)
        gLog.warn("Qt: %s\n", message.toUtf8().constData());
    if (qtDefaultHandler) qtDefaultHandler(type, context, message);
    // When the Wayland compositor goes away Qt says so, then ends the process with _exit(),
    // which runs no atexit handler: the recording is finished here instead.
    if (message.startsWith(QLatin1String("The Wayland connection"))) finishRecordingAtExit();
}

// Told without waiting: the chooser stays usable behind the box.
void showRecoveryProblems(QWidget* parent, const std::vector<std::string>& problems) {
    std::string text = "以下录像在程序意外退出时未能完成，也未能修复：";
    for (const std::string& problem : problems)
        text += "\n" + problem;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8("录像修复"),
                                QString::fromUtf8(text.c_str()), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace

int main(int argc, char** argv) {
    // Before Qt starts threads of its own that may read it.
    guiThread = std::this_thread::get_id();
    // Output that nobody reads any more (a pipe whose reader ended) must not end a recording:
    // writes to it fail instead.
    signal(SIGPIPE, SIG_IGN);

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
    const RecoveryReport recovery = recoverUnfinishedRecordings(videoFolder);

    qtDefaultHandler = qInstallMessageHandler(logQtWarnings);
    {
        QApplication app(argc, argv);
        app.setStyleSheet(loadSkin());
        const auto terminationSignals = closeOnTerminationSignals(app);
        // What every window records with, from here to the end of the run.
        Studio studio;
        studioToFinish = &studio;
        std::atexit(finishRecordingAtExit);
        auto chooser = std::make_unique<Glimmora>(studio);
        chooser->show();
        if (!recovery.problems.empty()) showRecoveryProblems(chooser.get(), recovery.problems);
        app.exec();
        chooser.reset();
        studioToFinish = nullptr;
        studio.close();
    }
    return 0;
}

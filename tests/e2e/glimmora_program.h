#pragma once

// The real program, run from a folder of its own on a display of its own, driven as a user
// drives it: mouse clicks and keys through xdotool.

#include <QPoint>
#include <QRect>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "virtual_display.h"

namespace testsupport {

class GlimmoraProgram {
public:
    // Copies the program and its data files into a new folder, with a "default.cfg" that sends
    // recordings to videoFolder (default: "video/" in that folder), and starts a display of
    // width x height for it (which becomes this process's $DISPLAY).
    explicit GlimmoraProgram(const std::string& videoFolder = "", int width = 1920,
                             int height = 1080);
    ~GlimmoraProgram();

    // Starts it with extra environment (for example GST_PLUGIN_PATH); $DISPLAY is the test
    // display unless environment names another (an empty one: no X11 at all).
    bool start(const std::map<std::string, std::string>& environment = {});
    // Waits up to timeoutMs for a visible window whose title is title; its geometry, or an
    // empty rectangle.
    QRect waitForWindow(const std::string& title, int timeoutMs = 20000);
    // Chooses a mode in the chooser: "screen" or "camera". Returns the recorder's geometry.
    QRect chooseMode(const std::string& mode);

    // In the screen recorder at window: checks the stereo mix, answering the message box that
    // both inputs together bring, then unchecks the microphone unless withMicrophone.
    bool hearStereoMix(const QRect& window, bool withMicrophone);

    // F3, ms milliseconds, F4: the path of the new recording, or empty when none appeared.
    std::string recordFor(int ms);
    // F5 once the recording runs; once it is paused, whilePaused, ms milliseconds, and F5
    // again. False when the pause or the resume did not come (5 s each).
    bool pauseFor(int ms, const std::function<void()>& whilePaused = {});
    // Answers the message box that opens (Return); false when none opened within timeoutMs.
    bool answerMessage(int timeoutMs = 10000);

    void click(QPoint screenPoint);
    void key(const std::string& keys);
    // Gives a window the keyboard and presses keys in it.
    void keyInWindow(const std::string& title, const std::string& keys);

    // Ends its display as an X11 session's end does (the server goes away under the program).
    // Nothing can be started or driven afterwards.
    void endDisplay() { m_display.reset(); }

    // True when it ended by itself within timeoutMs.
    bool waitForExit(int timeoutMs);
    int exitStatus() const { return m_process.exitStatus(); }
    ChildProcess& process() { return m_process; }

    std::string folder() const { return m_dir.path(); }
    std::string videoFolder() const { return m_videoFolder; }
    std::string log() const;
    // From the log: the seconds on the recording clock at which the last recording closed (-1
    // when none did), and where each pause joined two parts of a file, in seconds.
    double recordedSeconds() const;
    std::vector<double> pauseJoins() const;
    bool logged(const std::string& part) const { return log().find(part) != std::string::npos; }
    // The recordings in the video folder, sorted by name.
    std::vector<std::string> recordings() const;

    // Where the program's executable and data files come from.
    static std::string buildFolder();
    // Where a named control of the screen recorder window sits, from the window's top-left
    // corner: measured on an instance of the window in this process (which must have a
    // QApplication), styled as the program styles it.
    static QPoint screenRecorderControl(const char* name);
    // The whole rectangle of that control, from the window's top-left corner.
    static QRect screenRecorderControlRect(const char* name);

private:
    // The program and its data files into the folder, with a "default.cfg" naming m_videoFolder.
    void copyProgram();

    TempDir m_dir;
    std::string m_videoFolder;
    std::unique_ptr<VirtualDisplay> m_display;
    ChildProcess m_process;
};

}  // namespace testsupport

#include "glimmora_program.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "ui/screen_recorder.h"

namespace testsupport {

namespace {

// Window ids of visible windows with this exact title.
std::string findWindow(const std::string& title) {
    return runCommand("xdotool search --onlyvisible --name '^" + title +
                      "$' 2>/dev/null | head -n 1");
}

}  // namespace

QPoint GlimmoraProgram::screenRecorderControl(const char* name) {
    // Radio buttons and check boxes react to a click on their box at the left.
    const QRect control = screenRecorderControlRect(name);
    return QPoint(control.left() + 8, control.center().y());
}

QRect GlimmoraProgram::screenRecorderControlRect(const char* name) {
    static std::map<std::string, QRect> controls;
    if (controls.empty()) {
        QFile skin(QString::fromStdString(buildFolder() + "/default.skin"));
        if (skin.open(QIODevice::ReadOnly)) qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
        Studio studio;
        ScreenRecorder window(studio);
        window.show();
        QApplication::processEvents();
        for (QWidget* widget : window.findChildren<QWidget*>())
            controls[widget->objectName().toStdString()] =
                QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        window.close();
    }
    return controls[name];
}

std::string GlimmoraProgram::buildFolder() {
    return std::filesystem::path(GLIMMORA_EXE).parent_path().string();
}

GlimmoraProgram::GlimmoraProgram(const std::string& videoFolder, int width, int height)
    : m_videoFolder(videoFolder.empty() ? m_dir.file("video") + "/" : videoFolder) {
    copyProgram();
    m_display = std::make_unique<VirtualDisplay>(width, height);
}

void GlimmoraProgram::copyProgram() {
    namespace fs = std::filesystem;
    for (const char* file : {"glimmora", "default.skin", "shutter.wav"})
        fs::copy_file(fs::path(buildFolder()) / file, m_dir.file(file));
    writeFile(m_dir.file("default.cfg"), "video.folder=" + m_videoFolder + "\n");
}

GlimmoraProgram::~GlimmoraProgram() {
    if (m_process.running()) m_process.terminate(10000);
    // A failed test shows what the program said.
    if (::testing::Test::HasFailure()) {
        const std::string output = readFile(m_dir.file("output.txt"));
        fprintf(stderr, "---- the program's output ----\n%s\n------------------------------\n",
                output.substr(output.size() > 6000 ? output.size() - 6000 : 0).c_str());
    }
}

bool GlimmoraProgram::start(const std::map<std::string, std::string>& environment) {
    if (!m_display || !m_display->ok()) return false;
    std::map<std::string, std::string> env = environment;
    if (!env.count("DISPLAY")) env["DISPLAY"] = m_display->name();
    return m_process.start({m_dir.file("glimmora")}, m_dir.path(), env, m_dir.file("output.txt"));
}

QRect GlimmoraProgram::waitForWindow(const std::string& title, int timeoutMs) {
    std::string id;
    waitUntil([&] { return !(id = findWindow(title)).empty(); }, timeoutMs);
    if (id.empty()) return QRect();
    std::istringstream shell(runCommand("xdotool getwindowgeometry --shell " + id));
    std::map<std::string, int> values;
    for (std::string line; std::getline(shell, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
    }
    return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
}

QRect GlimmoraProgram::chooseMode(const std::string& mode) {
    const QRect chooser = waitForWindow("选择工作模式");
    if (chooser.isEmpty()) return QRect();
    // The camera button fills the upper half, the screen button the lower half.
    const int y = mode == "camera" ? chooser.height() / 4 : chooser.height() * 3 / 4;
    click(chooser.topLeft() + QPoint(chooser.width() / 2, y));
    return waitForWindow(mode == "camera" ? "摄像头录像" : "录制桌面");
}

bool GlimmoraProgram::hearStereoMix(const QRect& window, bool withMicrophone) {
    click(window.topLeft() + screenRecorderControl("chkStereo"));
    if (!answerMessage()) return false;
    if (!withMicrophone) click(window.topLeft() + screenRecorderControl("chkMic"));
    return true;
}

std::string GlimmoraProgram::recordFor(int ms) {
    const size_t before = recordings().size();
    key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    key("F4");
    if (!waitUntil([&] { return recordings().size() > before; }, 10000)) return "";
    return recordings().back();
}

bool GlimmoraProgram::pauseFor(int ms, const std::function<void()>& whilePaused) {
    const int paused = countOf(log(), "]  paused ");
    key("F5");
    if (!waitUntil([&] { return countOf(log(), "]  paused ") > paused; }, 5000)) return false;
    if (whilePaused) whilePaused();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const int resumed = countOf(log(), "]  resumed ");
    key("F5");
    return waitUntil([&] { return countOf(log(), "]  resumed ") > resumed; }, 5000);
}

double GlimmoraProgram::recordedSeconds() const {
    double seconds = -1;
    for (const std::string& line : splitLines(log())) {
        const size_t after = line.rfind(" after ");
        if (line.find(" s on the recording clock") != std::string::npos &&
            after != std::string::npos)
            seconds = std::atof(line.c_str() + after + 7);
    }
    return seconds;
}

std::vector<double> GlimmoraProgram::pauseJoins() const {
    std::vector<double> joins;
    for (const std::string& line : splitLines(log())) {
        const size_t at = line.rfind(" at ");
        if (line.find("]  paused ") != std::string::npos && at != std::string::npos)
            joins.push_back(std::atof(line.c_str() + at + 4));
    }
    return joins;
}

bool GlimmoraProgram::answerMessage(int timeoutMs) {
    if (waitForWindow("提示", timeoutMs).isEmpty()) return false;
    keyInWindow("提示", "Return");
    return true;
}

void GlimmoraProgram::click(QPoint point) {
    runCommand("xdotool mousemove " + std::to_string(point.x()) + " " + std::to_string(point.y()) +
               " click 1");
}

void GlimmoraProgram::key(const std::string& keys) {
    runCommand("xdotool key " + keys);
}

void GlimmoraProgram::keyInWindow(const std::string& title, const std::string& keys) {
    const std::string id = findWindow(title);
    if (id.empty()) return;
    runCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) + " key " + keys);
}

bool GlimmoraProgram::waitForExit(int timeoutMs) {
    return m_process.waitForExit(timeoutMs);
}

std::string GlimmoraProgram::log() const {
    return readFile(m_dir.file("glimmora.log.txt"));
}

std::vector<std::string> GlimmoraProgram::recordings() const {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_videoFolder, error))
        if (entry.path().extension() == ".avi" || entry.path().extension() == ".mp4")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace testsupport

#include "wayland_fixtures.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace testsupport {

bool pipeWireRunning() {
    return runCommand("pw-dump 2>/dev/null").find("\"PipeWire:Interface:Core\"") !=
           std::string::npos;
}

ColourNode::ColourNode(uint32_t rgb, const std::string& name, const std::string& mediaClass,
                       int width, int height)
    : m_name(name) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "0xff%06x", rgb);
    m_process.start({"/usr/bin/gst-launch-1.0", "-q", "videotestsrc", "is-live=true",
                     "pattern=solid-color", std::string("foreground-color=") + colour, "!",
                     "video/x-raw,format=BGRx,width=" + std::to_string(width) +
                         ",height=" + std::to_string(height) + ",framerate=25/1",
                     "!", "pipewiresink", "mode=provide",
                     "stream-properties=props,media.class=" + mediaClass + ",node.name=" + name +
                         ",node.description=" + name},
                    "");
}

uint32_t ColourNode::id() const {
    uint32_t found = 0;
    waitUntil([&] { return (found = lookUp()) != 0; }, 10000);
    return found;
}

uint32_t ColourNode::lookUp() const {
    const std::string text = runCommand("pw-dump 2>/dev/null");
    // Objects open with their "id"; the node's name comes later among its properties.
    const size_t name = text.find("\"node.name\": \"" + m_name + "\"");
    if (name == std::string::npos) return 0;
    const std::string before = text.substr(0, name);
    std::string last;
    static const std::regex id(R"(\n\s*"id": (\d+),)");
    for (auto it = std::sregex_iterator(before.begin(), before.end(), id);
         it != std::sregex_iterator(); ++it)
        last = (*it)[1];
    return last.empty() ? 0 : uint32_t(std::stoul(last));
}

PortalDouble::PortalDouble(uint32_t node, const std::vector<std::string>& options) {
    if (!m_bus.start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                      "--address=" + busAddress()},
                     m_dir.path(), {}, m_dir.file("bus.log")) ||
        !waitUntil([&] { return access(m_dir.file("bus").c_str(), F_OK) == 0; }, 10000))
        return;
    std::vector<std::string> argv = {"/usr/bin/python3", GLIMMORA_PORTAL_DOUBLE, "--node",
                                     std::to_string(node)};
    argv.insert(argv.end(), options.begin(), options.end());
    if (!m_double.start(argv, m_dir.path(), {{"DBUS_SESSION_BUS_ADDRESS", busAddress()}},
                        m_dir.file("calls.log")))
        return;
    m_ready = waitUntil([&] { return calls().find("ready") != std::string::npos; }, 10000);
}

PortalDouble::~PortalDouble() {
    m_double.terminate();
    m_bus.terminate();
}

std::string PortalDouble::calls() const {
    std::ifstream in(m_dir.file("calls.log"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool PortalDouble::activate(const std::string& id) {
    return control("Activate string:" + id);
}

bool PortalDouble::endShare() {
    return control("EndShare");
}

bool PortalDouble::control(const std::string& call) {
    const std::string command = "DBUS_SESSION_BUS_ADDRESS=" + busAddress() +
                                " /usr/bin/dbus-send --session --print-reply "
                                "--dest=org.freedesktop.portal.Desktop "
                                "/org/freedesktop/portal/desktop org.glimmora.PortalDouble." +
                                call + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace testsupport

namespace testsupport {

namespace {

constexpr uid_t kNobody = 65534;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

HeadlessSway::HeadlessSway() {
    for (const char* tool : {"/usr/bin/sway", "/usr/bin/swaymsg", "/usr/bin/wtype"})
        if (access(tool, X_OK) != 0) {
            m_missing = std::string(tool) + " is not installed (scripts/setup installs it)";
            return;
        }
    std::ofstream(m_dir.file("config")) << "output HEADLESS-1 resolution 1280x720\n";
    std::vector<std::string> argv = {"/usr/bin/sway", "-c", m_dir.file("config")};
    if (geteuid() == 0) {
        // The runtime folder must be the user's own, and reachable.
        if (chown(m_dir.path().c_str(), kNobody, kNobody) != 0 ||
            chown(m_dir.file("config").c_str(), kNobody, kNobody) != 0) {
            m_missing = "the folder for sway cannot be given to nobody";
            return;
        }
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    if (!m_sway.start(argv, m_dir.path(),
                      {{"XDG_RUNTIME_DIR", m_dir.path()},
                       {"HOME", m_dir.path()},
                       {"WLR_BACKENDS", "headless"},
                       {"WLR_RENDERER", "pixman"},
                       {"WLR_LIBINPUT_NO_DEVICES", "1"}},
                      m_dir.file("sway.log")) ||
        !waitUntil([&] { return access(display().c_str(), F_OK) == 0 && !ipcSocket().empty(); },
                   10000))
        m_missing = "sway did not start headless (see " + m_dir.file("sway.log") + ")";
}

HeadlessSway::~HeadlessSway() {
    m_sway.terminate();
}

std::string HeadlessSway::ipcSocket() const {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path(), error))
        if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) return entry.path();
    return "";
}

std::string HeadlessSway::windows() const {
    const std::string tree = runCommand("SWAYSOCK=" + quoted(ipcSocket()) +
                                        " /usr/bin/swaymsg -r -t get_tree 2>/dev/null");
    // A window's "shell" follows its own "name" with no other name between them.
    static const std::regex window(
        R"re("name": ?"([^"]*)"(?:(?!"name")[\s\S])*?"shell": ?"([^"]*)")re");
    std::string lines;
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), window);
         it != std::sregex_iterator(); ++it)
        lines += (*it)[1].str() + " (" + (*it)[2].str() + ")\n";
    return lines;
}

bool HeadlessSway::waitForNativeWindow(const std::string& title, int timeoutMs) const {
    return waitUntil([&] { return windows().find(title + " (xdg_shell)") != std::string::npos; },
                     timeoutMs);
}

bool HeadlessSway::type(const std::vector<std::string>& keys) const {
    std::string command = "WAYLAND_DISPLAY=" + quoted(display()) +
                          " XDG_RUNTIME_DIR=" + quoted(m_dir.path()) + " /usr/bin/wtype -s 1000";
    for (const std::string& key : keys)
        command += " " + quoted(key);
    command += " -s 500";
    return std::system(command.c_str()) == 0;
}

}  // namespace testsupport

#pragma once

// Sound-server fixtures of the tests' own, so that tests do not depend on what else the server
// has (a developer's desktop server works as well as the one scripts/test starts).

#include <atomic>
#include <string>
#include <thread>

namespace testsupport {

// True when a sound server answers.
bool soundServerReachable();
// True when it is the server scripts/test starts: its default microphone is a 440 Hz sine.
bool testSoundServer();

// A module loaded into the server with pactl for the object's lifetime, e.g.
// PulseModule("module-null-sink", "sink_name=test_sink").
class PulseModule {
public:
    PulseModule(const std::string& module, const std::string& arguments);
    ~PulseModule();
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;

    bool ok() const { return m_index >= 0; }

private:
    int m_index = -1;
};

// A source that delivers a sine tone in real time at the given rate, named name: a tone played
// into a silent sink of its own, taken from that sink's monitor. (module-sine-source hands out
// its sound in two-second bursts, unlike a real microphone.)
class SineMicrophone {
public:
    SineMicrophone(const std::string& name, int rate, int hz);
    bool ok() const { return m_sink.ok() && m_tone.ok() && m_source.ok(); }

private:
    PulseModule m_sink;
    PulseModule m_tone;
    PulseModule m_source;
};

// Plays a stereo sine tone into a sink (empty: the default one) until the object goes.
class TonePlayer {
public:
    TonePlayer(const std::string& sink, double hz, double amplitude);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A sound server of the test's own (a silent sink as the speakers, private_speakers, and a
// microphone, private_microphone, as its defaults), for tests that take it away while something
// uses it: a PulseAudio daemon whose microphone is a 440 Hz sine, or PipeWire's PulseAudio server
// (what Debian's desktops run; its microphone is silent) over the PipeWire daemon scripts/test
// starts.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(bool pipeWire = false);
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool ok() const { return !m_server.empty(); }
    // The value for PULSE_SERVER.
    const std::string& server() const { return m_server; }
    // Kills the daemon at once, as a crash would.
    void kill();
    // Starts the daemon (again, after kill()) on the same socket, its defaults set.
    bool start();

private:
    bool m_pipeWire = false;
    std::string m_folder;
    std::string m_server;
    int m_pid = -1;
};

// A name nobody else uses on the server: prefix + this process's id.
std::string uniqueName(const std::string& prefix);

}  // namespace testsupport

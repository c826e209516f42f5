# Shared by the scripts: provides an X display and a sound server when none is reachable, and
# stops at exit only what it started. Source it, then call ensure_display / ensure_sound /
# ensure_pipewire.

session_dir=$(mktemp -d /tmp/glimmora-session.XXXXXX)
session_pids=()
# Qt wants a private runtime folder and says so for every program it starts without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$session_dir/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

session_cleanup() {
    local pid
    for pid in "${session_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${session_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$session_dir"
}
trap session_cleanup EXIT
trap 'exit 130' INT TERM

# A virtual display (Xvfb, 1920x1080x24 unless a size is given) on a free display number,
# unless $DISPLAY works. With --own it always starts one.
ensure_display() {
    local own=0
    if [ "${1:-}" = --own ]; then own=1; shift; fi
    local size=${1:-1920x1080x24}
    if [ $own -eq 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local numberFile=$session_dir/display
    Xvfb -displayfd 9 -screen 0 "$size" -nolisten tcp -noreset 9>"$numberFile" \
        >"$session_dir/xvfb.log" 2>&1 &
    session_pids+=($!)
    local i
    for i in $(seq 100); do
        [ -s "$numberFile" ] && break
        sleep 0.1
    done
    if [ ! -s "$numberFile" ]; then
        echo "cannot start Xvfb:" >&2
        cat "$session_dir/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$(head -n 1 "$numberFile")"
    echo "started a virtual display $DISPLAY ($size)"
}

# A PulseAudio daemon with a null sink as the default output and a 440 Hz sine source sampled at
# 11025 Hz as the default microphone, unless a sound server answers already. The microphone is a
# sine played into a silent sink of its own and taken from that sink's monitor: pulseaudio's
# module-sine-source hands out its sound in two-second bursts, where a real microphone delivers
# it as it comes. With --own it always starts one.
ensure_sound() {
    if [ "${1:-}" != --own ] && pactl info >/dev/null 2>&1; then
        return 0
    fi
    local runtime=$session_dir/pulse
    mkdir -p "$runtime"
    PULSE_RUNTIME_PATH=$runtime HOME=$runtime pulseaudio --daemonize=no --exit-idle-time=-1 \
        --disallow-exit -n --use-pid-file=no \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$runtime/native" \
        --load="module-null-sink sink_name=glimmora_speakers" \
        --load="module-null-sink sink_name=glimmora_tone sink_properties=device.description=Sine-tone" \
        --load="module-sine sink=glimmora_tone frequency=440" \
        --load="module-remap-source source_name=glimmora_microphone master=glimmora_tone.monitor rate=11025 source_properties=device.description=Sine-microphone" \
        >"$runtime/log" 2>&1 &
    session_pids+=($!)
    session_sound_pid=$!
    export PULSE_SERVER=unix:$runtime/native
    local i
    for i in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! pactl info >/dev/null 2>&1; then
        echo "cannot start PulseAudio:" >&2
        cat "$runtime/log" >&2
        return 1
    fi
    pactl set-default-sink glimmora_speakers
    pactl set-default-source glimmora_microphone
    # A null sink renders far ahead until a client asks for low latency; the first such client
    # then sees its monitor stall for a second while the sink re-times. A sound card never does
    # that, so each sink gets a low-latency listener of its own for the life of the server.
    local monitor
    for monitor in glimmora_speakers.monitor glimmora_microphone; do
        parec --latency-msec=20 --device="$monitor" >/dev/null 2>&1 &
        session_pids+=($!)
    done
    # Their first moments are the stall: over before the first test records.
    sleep 2
    echo "started a PulseAudio server at $PULSE_SERVER"
}

# Says so, with the server's last words, when the sound server ensure_sound started has died
# (a test that fails on "no sound server" then has its cause beside it).
report_sound_death() {
    [ -n "${session_sound_pid:-}" ] || return 0
    kill -0 "$session_sound_pid" 2>/dev/null && return 0
    echo "the PulseAudio server started for this run died; the end of its log:" >&2
    tail -n 30 "$session_dir/pulse/log" >&2
}

# A PipeWire daemon, and WirePlumber (without which no stream is linked to its receiver), on a
# D-Bus session bus of their own: what a Wayland desktop shares its screen through. Always its
# own; PIPEWIRE_RUNTIME_DIR names where its socket is for the programs started afterwards.
ensure_pipewire() {
    local runtime=$session_dir/pipewire
    mkdir -m 700 -p "$runtime"
    dbus-daemon --session --nofork --address="unix:path=$runtime/bus" \
        >"$runtime/dbus.log" 2>&1 &
    session_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus
    export PIPEWIRE_RUNTIME_DIR=$runtime
    local i
    for i in $(seq 100); do
        [ -S "$runtime/bus" ] && break
        sleep 0.1
    done
    pipewire >"$runtime/pipewire.log" 2>&1 &
    session_pids+=($!)
    for i in $(seq 100); do
        [ -S "$runtime/pipewire-0" ] && break
        sleep 0.1
    done
    if [ ! -S "$runtime/pipewire-0" ]; then
        echo "cannot start PipeWire:" >&2
        cat "$runtime/dbus.log" "$runtime/pipewire.log" >&2
        return 1
    fi
    wireplumber >"$runtime/wireplumber.log" 2>&1 &
    session_pids+=($!)
    echo "started PipeWire at $runtime/pipewire-0"
}

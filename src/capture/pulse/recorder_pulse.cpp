// Recorder and EnumerateCaptureDevices over libpulse: a record stream, corked until
// startCapture(), whose data the capture thread cuts into exact blocks.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include <pthread.h>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/pulse/pulse_connection.h"
#include "capture/recorder.h"

namespace {

// Copies text into a fixed field, cut at a UTF-8 character boundary.
template <size_t N>
void copyText(char (&field)[N], const char* text) {
    size_t length = text ? strlen(text) : 0;
    if (length >= N) {
        length = N - 1;
        while (length > 0 && (uint8_t(text[length]) & 0xC0) == 0x80)
            --length;
    }
    if (length) std::memcpy(field, text, length);
    field[length] = '\0';
}

struct SourceList {
    PulseConnection* connection = nullptr;
    std::vector<AudioInputDevice> devices;
    bool done = false;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* list = static_cast<SourceList*>(userdata);
    if (eol) {
        list->done = true;
        list->connection->signal();
        return;
    }
    AudioInputDevice device;
    copyText(device.guid, info->name);
    copyText(device.description, info->description);
    copyText(device.driverModule, info->driver);
    list->devices.push_back(device);
}

void onOperationDone(pa_stream*, int, void* userdata) {
    static_cast<PulseConnection*>(userdata)->signal();
}

// What the server answers about one source (its name, and whether it is a sink's monitor: what
// the speakers play, not a microphone or a line in), or about a sink (its monitor's name).
struct SourceAnswer {
    PulseConnection* connection = nullptr;
    std::string name;
    bool monitor = false;
    bool done = false;

    void answered(int eol) {
        if (!eol) return;
        done = true;
        connection->signal();
    }
};

void onSourceKind(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SourceAnswer*>(userdata);
    if (info) {
        answer->name = info->name ? info->name : "";
        answer->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    }
    answer->answered(eol);
}

void onSinkMonitor(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SourceAnswer*>(userdata);
    if (info && info->monitor_source_name) {
        answer->name = info->monitor_source_name;
        answer->monitor = true;
    }
    answer->answered(eol);
}

constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";

// The source name stands for: the monitor of the default sink by its own name for
// @DEFAULT_MONITOR@, any other name as it is. PipeWire's sound server records the default
// source, the microphone, for a stream that asks for @DEFAULT_MONITOR@. The name as it is when
// the server names no default sink. With the connection's lock held.
std::string sourceNamed(PulseConnection& connection, const char* name) {
    const std::string asked = name ? name : "";
    if (asked != kDefaultMonitor) return asked;
    SourceAnswer monitor;
    monitor.connection = &connection;
    if (pa_operation* operation = pa_context_get_sink_info_by_name(
            connection.context(), "@DEFAULT_SINK@", onSinkMonitor, &monitor)) {
        connection.waitFor([&] { return monitor.done; }, 5000);
        pa_operation_unref(operation);
    }
    return monitor.name.empty() ? asked : monitor.name;
}

// An operation the stream waits on, let go once it has answered (done), or before its answer
// (cancelled: a newer question replaces it, or the stream goes).
void letGo(pa_operation*& pending, bool cancelled) {
    if (!pending) return;
    if (cancelled) pa_operation_cancel(pending);
    pa_operation_unref(pending);
    pending = nullptr;
}

const char* kindText(bool monitor) {
    return monitor ? "what the speakers play" : "a microphone or line in";
}

}  // namespace

int EnumerateCaptureDevices(std::vector<AudioInputDevice>& devices) {
    PulseConnection connection;
    if (!connection.open("Glimmora device list")) {
        gLog.error("Sound Capture: Failed to enumberate sound capture devices \n");
        return -1;
    }
    SourceList list;
    list.connection = &connection;
    {
        PulseConnection::Lock lock(connection);
        pa_operation* operation =
            pa_context_get_source_info_list(connection.context(), onSourceInfo, &list);
        if (operation) {
            connection.waitFor([&] { return list.done; }, 5000);
            pa_operation_unref(operation);
        }
    }
    if (!list.done) {
        gLog.error("Sound Capture: Failed to enumberate sound capture devices \n");
        gLog.error("sound: %s\n", connection.lastError().c_str());
        return -1;
    }
    for (const AudioInputDevice& device : list.devices) {
        gLog.info("sound card : %s , driver: %s , GUID=%s,\n", device.description,
                  device.driverModule, device.guid);
        devices.push_back(device);
    }
    return 0;
}

struct Recorder::Stream {
    PulseConnection connection;
    pa_stream* stream = nullptr;
    // The source recorded from: set by open(), then the event thread's. Its kind stays the
    // recorder's m_recordsMonitor: a move to the other kind is undone or ends the stream.
    std::string device;
    // The event thread's: the question what the stream was moved to, and the move back from a
    // source of the other kind (movedTo) while it is under way.
    pa_operation* movedQuery = nullptr;
    pa_operation* moveBack = nullptr;
    std::string movedTo;
    // The question which sink is the default now, for a stream that follows it; the event
    // thread's.
    pa_operation* defaultSinkQuery = nullptr;

    ~Stream() {
        if (stream) {
            PulseConnection::Lock lock(connection);
            // Their answers would find the stream gone.
            pa_context_set_subscribe_callback(connection.context(), nullptr, nullptr);
            for (pa_operation** pending : {&movedQuery, &moveBack, &defaultSinkQuery})
                letGo(*pending, true);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_moved_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        connection.close();
    }
};

Recorder::Recorder(RecorderCallback* callback) : m_callback(callback) {}

Recorder::~Recorder() {
    close();
}

int Recorder::open(const char* sourceName, int id, int sampleRate, int framesPerBlock,
                   int blocksPerFragment) {
    close();
    m_id = id;
    m_sampleRate = sampleRate;
    m_framesPerBlock = framesPerBlock;
    m_blockBytes = framesPerBlock * 4;
    m_blocksPerFragment = std::max(1, blocksPerFragment);
    const size_t ringBlocks =
        size_t(kMaxBufferedSeconds) * size_t(sampleRate) / size_t(framesPerBlock) + 1;
    m_started = false;
    {
        std::lock_guard<std::mutex> lock(m_bufferLock);
        m_stop = m_lost = m_sourceGone = false;
        m_droppedBytes = 0;
        m_ready.clear();
        m_ready.resize(ringBlocks);
        m_readyFirstFrame.assign(ringBlocks, 0);
        m_readyHead = m_readyCount = 0;
    }
    // A fragment's blocks, the one being filled, the one being delivered, and a little more.
    m_pool = std::make_unique<BlockPool>(uint32_t(m_blockBytes), m_blocksPerFragment * 2 + 4);

    auto stream = std::make_unique<Stream>();
    if (!stream->connection.open("Glimmora")) {
        gLog.error("Sound Capture: DirectSoundCaptureCreate failed  \n");
        return -1;
    }
    PulseConnection& connection = stream->connection;
    {
        PulseConnection::Lock lock(connection);
        const pa_sample_spec format = {PA_SAMPLE_S16LE, uint32_t(sampleRate), 2};
        pa_channel_map stereo;
        pa_channel_map_init_stereo(&stereo);
        stream->stream = pa_stream_new(connection.context(), "capture", &format, &stereo);
        if (!stream->stream) {
            gLog.error("sound capture: cannot create a record stream: %s\n",
                       connection.lastError().c_str());
            return -1;
        }
        pa_stream_set_state_callback(stream->stream, onStreamState, this);
        pa_stream_set_read_callback(stream->stream, onRead, this);
        pa_stream_set_moved_callback(stream->stream, onStreamMoved, this);
        // The server hands data over in fragments of a few blocks: each one wakes this process.
        pa_buffer_attr attributes;
        attributes.maxlength = uint32_t(-1);
        attributes.fragsize = uint32_t(m_blockBytes * m_blocksPerFragment);
        attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
        const std::string source = sourceNamed(connection, sourceName);
        const char* device = source.empty() ? nullptr : source.c_str();
        m_stream = std::move(stream);  // the callbacks may run from here on
        if (pa_stream_connect_record(
                m_stream->stream, device, &attributes,
                pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                  PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE)) ==
            0) {
            connection.waitFor(
                [this] {
                    const pa_stream_state_t state = pa_stream_get_state(m_stream->stream);
                    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
                },
                5000);
        }
        if (pa_stream_get_state(m_stream->stream) != PA_STREAM_READY) {
            gLog.error("Sound Capture: DirectSoundCaptureCreate failed  \n");
            gLog.error("sound capture: cannot record from %s (asked for %s): %s\n",
                       device ? device : "the default source",
                       sourceName && *sourceName ? sourceName : "the default",
                       connection.lastError().c_str());
        } else {
            const pa_sample_spec* actual = pa_stream_get_sample_spec(m_stream->stream);
            gLog.info("audio format: channel=%d, sample_rate=%d \n", actual->channels,
                      int(actual->rate));
            gLog.info("buffer created: size %d \n", 3 * m_blockBytes);
            SourceAnswer kind;
            kind.connection = &connection;
            if (pa_operation* operation = pa_context_get_source_info_by_index(
                    connection.context(), pa_stream_get_device_index(m_stream->stream),
                    onSourceKind, &kind)) {
                connection.waitFor([&] { return kind.done; }, 5000);
                pa_operation_unref(operation);
            }
            m_stream->device = kind.name;
            m_recordsMonitor = kind.monitor;
            gLog.info("sound capture: source %d records from %s, %s\n", id, kind.name.c_str(),
                      kindText(kind.monitor));
            if (sourceName && std::strcmp(sourceName, kDefaultMonitor) == 0) followDefaultSink();
        }
    }
    if (pa_stream_get_state(m_stream->stream) != PA_STREAM_READY || start() < 0) {
        m_stream.reset();
        return -1;
    }
    return 0;
}

int Recorder::startCapture() {
    if (!m_stream) {
        gLog.error("sound capture: Failed to start \n");
        return -1;
    }
    PulseConnection& connection = m_stream->connection;
    PulseConnection::Lock lock(connection);
    pa_operation* flush = pa_stream_flush(m_stream->stream, nullptr, nullptr);
    if (flush) pa_operation_unref(flush);
    pa_operation* uncork = pa_stream_cork(m_stream->stream, 0, onOperationDone, &connection);
    if (!uncork) {
        gLog.error("sound capture: Failed to start \n");
        gLog.error("sound capture: %s\n", connection.lastError().c_str());
        return -1;
    }
    pa_operation_unref(uncork);
    dropQueuedBlocks();
    m_framesAppended = 0;
    m_started = true;
    std::lock_guard<std::mutex> bufferLock(m_bufferLock);
    m_clock = SoundClock(m_sampleRate);
    return 0;
}

void Recorder::close() {
    {
        std::lock_guard<std::mutex> lock(m_bufferLock);
        m_stop = true;
    }
    m_bufferChanged.notify_all();
    join();
    m_stream.reset();
    dropQueuedBlocks();
    // Every block is back: the thread and the stream are gone, the queue is empty.
    m_pool.reset();
}

void Recorder::dropQueuedBlocks() {
    {
        std::lock_guard<std::mutex> lock(m_bufferLock);
        while (m_readyCount > 0)
            takeOldestBlock();
    }
    m_filling.release();
    m_fillingBytes = 0;
}

void Recorder::queueBlock(MMPacket&& block, int64_t firstFrame) {
    if (m_readyCount == m_ready.size()) {
        // The oldest goes; its frames keep their indices, so the gap is known downstream.
        takeOldestBlock();
        m_droppedBytes += m_blockBytes;
    }
    const size_t slot = (m_readyHead + m_readyCount) % m_ready.size();
    m_ready[slot] = std::move(block);
    m_readyFirstFrame[slot] = firstFrame;
    ++m_readyCount;
}

MMPacket Recorder::takeOldestBlock() {
    MMPacket block = std::move(m_ready[m_readyHead]);
    m_readyHead = (m_readyHead + 1) % m_ready.size();
    --m_readyCount;
    return block;
}

void Recorder::onRead(pa_stream* stream, size_t, void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    // The next unread frame was captured this long ago: what the source holds and what is
    // buffered for us lie between it and now. A monitor hands over what a sink is about to
    // play: its frames are heard that long from now, and the latency comes negative.
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) == 0)
        recorder->addClockReading(monotonicMicroseconds() +
                                  (negative ? int64_t(latency) : -int64_t(latency)));
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
        // A hole (no data) is sound the server lost: silence keeps the frames counted.
        recorder->append(static_cast<const uint8_t*>(data), bytes);
        pa_stream_drop(stream);
    }
}

void Recorder::onStreamState(pa_stream* stream, void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    recorder->m_stream->connection.signal();
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
    // With the server still connected, the stream alone was ended: its source went away.
    const bool serverGone =
        !PA_CONTEXT_IS_GOOD(pa_context_get_state(pa_stream_get_context(stream)));
    {
        std::lock_guard<std::mutex> lock(recorder->m_bufferLock);
        recorder->m_lost = true;
        recorder->m_sourceGone = !serverGone;
    }
    recorder->m_bufferChanged.notify_all();
}

// The server moves a stream whose source went away to its default source; the user may move it,
// and PulseAudio moves the streams on the default source when the user picks another default. The
// recording follows, unless the new source is of the other kind: a microphone's stream moved
// onto what the speakers play (or the other way round) would record that sound twice over. It is
// moved back while its source is there, and otherwise ends, as if its source had simply gone.
void Recorder::onStreamMoved(pa_stream* stream, void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    Stream& moved = *recorder->m_stream;
    letGo(moved.movedQuery, true);  // moved again before the server answered: the last counts
    moved.movedQuery = pa_context_get_source_info_by_index(
        pa_stream_get_context(stream), pa_stream_get_device_index(stream), onMovedTo, recorder);
}

void Recorder::onMovedTo(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    Stream& moved = *recorder->m_stream;
    if (eol) {
        letGo(moved.movedQuery, false);
        return;
    }
    const bool monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    if (monitor == recorder->m_recordsMonitor) {
        if (moved.device != info->name)
            gLog.warn("sound capture: source %d now records from %s instead of %s\n",
                      recorder->m_id, info->name, moved.device.c_str());
        moved.device = info->name;
        return;
    }
    moved.movedTo = info->name;
    letGo(moved.moveBack, true);  // only the last move back counts
    moved.moveBack = pa_context_move_source_output_by_name(
        context, pa_stream_get_index(moved.stream), moved.device.c_str(), onMovedBack, recorder);
    if (!moved.moveBack) onMovedBack(context, 0, recorder);
}

void Recorder::onMovedBack(pa_context*, int success, void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    Stream& moved = *recorder->m_stream;
    letGo(moved.moveBack, false);
    const char* kind = kindText(!recorder->m_recordsMonitor);
    if (success) {
        gLog.warn("sound capture: source %d was moved to %s, %s; moved back to %s\n",
                  recorder->m_id, moved.movedTo.c_str(), kind, moved.device.c_str());
        return;
    }
    gLog.error("sound capture: source %d was moved from %s to %s, %s; capture ends\n",
               recorder->m_id, moved.device.c_str(), moved.movedTo.c_str(), kind);
    {
        std::lock_guard<std::mutex> lock(recorder->m_bufferLock);
        recorder->m_lost = true;
        recorder->m_sourceGone = true;
    }
    recorder->m_bufferChanged.notify_all();
}

// Headphones plugged in, or another output picked, make another sink the default: what is heard
// goes there, and so does the stream that records it. With the connection's lock held.
void Recorder::followDefaultSink() {
    pa_context* context = m_stream->connection.context();
    pa_context_set_subscribe_callback(
        context,
        [](pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* userdata) {
            onServerChanged(c, int(type), index, userdata);
        },
        this);
    pa_operation* subscribe =
        pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
    if (!subscribe) {
        gLog.warn("sound capture: source %d cannot follow the default output: %s\n", m_id,
                  m_stream->connection.lastError().c_str());
        return;
    }
    pa_operation_unref(subscribe);
}

void Recorder::onServerChanged(pa_context* context, int type, uint32_t, void* userdata) {
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
    auto* recorder = static_cast<Recorder*>(userdata);
    Stream& stream = *recorder->m_stream;
    letGo(stream.defaultSinkQuery, true);  // changed again before the server answered
    stream.defaultSinkQuery =
        pa_context_get_sink_info_by_name(context, "@DEFAULT_SINK@", onDefaultSink, recorder);
}

void Recorder::onDefaultSink(pa_context* context, const pa_sink_info* info, int eol,
                             void* userdata) {
    auto* recorder = static_cast<Recorder*>(userdata);
    Stream& stream = *recorder->m_stream;
    if (eol) {
        letGo(stream.defaultSinkQuery, false);
        return;
    }
    if (!info->monitor_source_name || stream.device == info->monitor_source_name) return;
    gLog.info("sound capture: source %d follows the default output to %s\n", recorder->m_id,
              info->name);
    // Where it went shows in the moved callback.
    if (pa_operation* move =
            pa_context_move_source_output_by_name(context, pa_stream_get_index(stream.stream),
                                                  info->monitor_source_name, nullptr, nullptr))
        pa_operation_unref(move);
}

void Recorder::addClockReading(int64_t capturedUs) {
    if (!m_started) return;
    std::lock_guard<std::mutex> lock(m_bufferLock);
    m_clock.addReading(m_framesAppended, capturedUs);
}

void Recorder::append(const uint8_t* data, size_t bytes) {
    if (!m_started) return;
    bool blockDone = false;
    size_t used = 0;
    while (used < bytes) {
        if (m_filling.isEmpty()) {
            m_filling.allocator = m_pool.get();
            m_filling.allocate(uint32_t(m_blockBytes), 0);
            m_fillingFirstFrame = m_framesAppended;
            m_fillingBytes = 0;
        }
        const size_t piece = std::min(bytes - used, size_t(m_blockBytes) - m_fillingBytes);
        uint8_t* target = m_filling.data + m_fillingBytes;
        if (data)
            std::memcpy(target, data + used, piece);
        else
            std::memset(target, 0, piece);
        used += piece;
        m_fillingBytes += uint32_t(piece);
        m_framesAppended += int64_t(piece / 4);
        if (m_fillingBytes < uint32_t(m_blockBytes)) continue;
        {
            std::lock_guard<std::mutex> lock(m_bufferLock);
            queueBlock(std::move(m_filling), m_fillingFirstFrame);
        }
        m_fillingBytes = 0;
        blockDone = true;
    }
    // One wake for all the blocks of a fragment.
    if (blockDone) m_bufferChanged.notify_one();
}

int Recorder::run() {
    pthread_setname_np(pthread_self(), "sound-capture");
    int reportedDrops = 0;
    for (;;) {
        int droppedBytes = 0;
        int64_t firstFrame = 0;
        MMPacket block;
        {
            std::unique_lock<std::mutex> lock(m_bufferLock);
            m_bufferChanged.wait(lock, [this] { return m_stop || m_lost || m_readyCount > 0; });
            if (m_stop) break;
            if (m_lost) {
                const bool sourceGone = m_sourceGone;
                lock.unlock();
                if (sourceGone)
                    gLog.error("sound capture: source %d: its device went away; capture ends\n",
                               m_id);
                else
                    gLog.error("sound capture: source %d lost its sound server; capture ends\n",
                               m_id);
                MMPacket none;
                if (m_callback) m_callback->OnRecordedBlock(m_id, 0, none);
                break;
            }
            firstFrame = m_readyFirstFrame[m_readyHead];
            block = takeOldestBlock();
            droppedBytes = m_droppedBytes;
            block.capturedUs = m_clock.timeOfFrame(firstFrame);
        }
        if (droppedBytes != reportedDrops) {
            gLog.warn("sound capture: source %d fell behind, %d bytes dropped\n", m_id,
                      droppedBytes);
            reportedDrops = droppedBytes;
        }
        // The stream's own time of the block's end, holes and dropped frames counted.
        const double endSeconds = double(firstFrame + m_framesPerBlock) / m_sampleRate;
        if (m_callback) m_callback->OnRecordedBlock(m_id, endSeconds, block);
    }
    return 0;
}

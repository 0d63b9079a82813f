#include "linux/gst/GstAudioInput.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

// How long stop() waits for the muxer to write its index after end of stream:
// a few milliseconds as a rule; past this the take is reported unfinished
// rather than hold the interface.
constexpr auto kEndOfStreamWait = std::chrono::milliseconds(750);
// How often `level` measures the input, in nanoseconds: fast enough for a
// meter drawn at 30 frames a second.
constexpr guint64 kLevelInterval = 50 * GST_MSECOND;

}  // namespace

struct GstAudioTake::Shared {
    ~Shared() {
        if (intake) gst_object_unref(intake);
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;        // record() succeeded
    bool stopping = false;       // stop() asked for the end; what follows is expected
    bool inputClosed = false;    // end of stream sent downstream of the source
    bool ended = false;          // end of stream reached the bus: the file is complete
    bool failed = false;         // an error reached the bus
    bool endedBySystem = false;  // reported as ended without a usable file
    std::string errorText;

    std::mutex eventsMutex;
    AudioTakeEvents events;

    // The sound server's name of the source the take records from, learnt
    // when its stream is created.
    std::string inputDevice;

    // The pipeline (not owned) and the first element after the source, where
    // the take's end is sent in; the elements from there to the file.
    GstElement* pipeline = nullptr;
    GstElement* intake = nullptr;
    std::vector<GstElement*> downstream;

    std::atomic<float> power{-std::numeric_limits<float>::infinity()};
    std::atomic<int64_t> firstBuffer{0};  // monotonic microseconds, 0 = none yet
    std::atomic<int64_t> streamTime{0};   // nanoseconds of audio that passed the meter

    // The source the take started on, when the stream now records from
    // another; the first source named is the take's own. An empty name
    // tells nothing.
    std::optional<std::string> movedFrom(const std::string& current) {
        if (current.empty()) return std::nullopt;
        std::lock_guard lock(mutex);
        if (inputDevice.empty()) inputDevice = current;
        if (current == inputDevice) return std::nullopt;
        return inputDevice;
    }

    bool isInputClosed() {
        std::lock_guard lock(mutex);
        return inputClosed;
    }

    bool isDownstream(GstObject* object) const {
        for (; object; object = GST_OBJECT_PARENT(object)) {
            if (std::find(downstream.begin(), downstream.end(), GST_ELEMENT_CAST(object)) !=
                downstream.end()) {
                return true;
            }
        }
        return false;
    }

    // Ends the file with what has been captured, without waiting for the
    // source: whatever it still delivers is dropped, and the end of stream
    // goes in just after it. From the source's own threads it is sent from a
    // thread of GStreamer's; stop() sends it itself, which spares the key-up
    // a thread hop (the encoder's last frame is all it costs there).
    void closeInput(bool fromMainThread) {
        GstPad* pad = gst_element_get_static_pad(intake, "sink");
        gst_pad_add_probe(
            pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
            [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr,
            nullptr);
        power.store(-std::numeric_limits<float>::infinity());
        if (fromMainThread) {
            gst_pad_send_event(pad, gst_event_new_eos());
        } else {
            gst_element_call_async(
                pipeline,
                [](GstElement*, gpointer data) {
                    gst_pad_send_event(GST_PAD(data), gst_event_new_eos());
                },
                gst_object_ref(pad), gst_object_unref);
        }
        gst_object_unref(pad);
    }

    // The input changed or went away on its own. With sound captured the file
    // is finished with it and handed over as at a key-up; with none there is
    // nothing to keep and the take ends as the system's doing.
    void inputEnded(const std::string& reason) {
        {
            std::lock_guard lock(mutex);
            if (stopping || inputClosed || ended || failed) return;
            if (firstBuffer.load() != 0) inputClosed = true;
        }
        if (firstBuffer.load() == 0) {
            finish(false, reason);
            return;
        }
        Log::write("recorder: " + reason);
        closeInput(false);
    }

    // The pipeline ended: by stop() (expected) or on its own (reported). An
    // end that comes while record() starts the pipeline is reported by it.
    void finish(bool successfully, std::string error) {
        bool report = false;
        bool withFile = false;
        {
            std::lock_guard lock(mutex);
            if (ended || failed) return;
            if (successfully) {
                ended = true;
                inputClosed = true;
            } else {
                failed = true;
                errorText = error;
            }
            report = started && !stopping;
            withFile = successfully && firstBuffer.load() != 0;
            if (report && !withFile) endedBySystem = true;
        }
        changed.notify_all();
        if (successfully) power.store(-std::numeric_limits<float>::infinity());
        if (!report) return;
        if (withFile) {
            reportInputEnded();
        } else {
            reportEnd(successfully, error);
        }
    }

    void reportEnd(bool successfully, const std::string& error) {
        if (!successfully) Log::write("recorder: " + error);
        std::lock_guard lock(eventsMutex);
        if (events.finishedBySystem) events.finishedBySystem(successfully);
    }

    void reportInputEnded() {
        std::lock_guard lock(eventsMutex);
        if (events.inputEnded) events.inputEnded();
    }
};

namespace {

float firstChannelRms(const GstStructure* structure) {
    const GValue* rms = gst_structure_get_value(structure, "rms");
    if (!rms || !G_VALUE_HOLDS(rms, G_TYPE_VALUE_ARRAY)) return -INFINITY;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    auto* channels = static_cast<GValueArray*>(g_value_get_boxed(rms));
    if (!channels || channels->n_values == 0) return -INFINITY;
    return static_cast<float>(g_value_get_double(g_value_array_get_nth(channels, 0)));
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// Runs on whichever thread posts: the meter's readings, the end of stream and
// errors are taken here, so no main loop is needed to follow the pipeline.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* structure = gst_message_get_structure(message);
            // Readings still on their way when the input closed are old news.
            if (structure && gst_structure_has_name(structure, "level") &&
                !shared->isInputClosed()) {
                shared->power.store(firstChannelRms(structure));
            }
            break;
        }
        case GST_MESSAGE_EOS:
            shared->finish(true, "");
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            std::string text = error && error->message ? error->message : "unknown error";
            if (error) g_error_free(error);
            // A source that fails leaves the encoder and the file intact: what
            // it delivered until then can still be finished.
            if (shared->isDownstream(GST_MESSAGE_SRC(message))) {
                shared->finish(false, text);
            } else {
                shared->inputEnded(text);
            }
            break;
        }
        default:
            break;
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    int64_t none = 0;
    shared->firstBuffer.compare_exchange_strong(none, g_get_monotonic_time());
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
        GstClockTime end = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) end += GST_BUFFER_DURATION(buffer);
        shared->streamTime.store(static_cast<int64_t>(end));
    }
    return GST_PAD_PROBE_OK;
}

// PulseAudio does not end a stream whose source goes away: it moves it to
// another source, even when the stream asked for that very device, and a
// stream that follows the default moves when the default changes (a headset
// plugged in). Either way the take would carry on from another microphone,
// so a move ends it, keeping what was said into the first one. pulsesrc
// reports changes of its stream here, from its own threads.
void onInputDeviceChanged(GObject* source, GParamSpec*, gpointer data) {
    auto* shared = static_cast<GstAudioTake::Shared*>(data);
    gchar* name = nullptr;
    g_object_get(source, "current-device", &name, nullptr);
    std::string current = name ? name : "";
    g_free(name);
    if (auto original = shared->movedFrom(current)) {
        shared->inputEnded("the input moved from " + *original + " to " + current);
    }
}

// Each PulseAudio source inside the pipeline, wherever the description put it.
void forEachPulseSource(GstElement* pipeline, const std::function<void(GstElement*)>& use) {
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "pulsesrc") == 0) use(element);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

void watchInputDevices(GstElement* pipeline, GstAudioTake::Shared* shared) {
    forEachPulseSource(pipeline, [shared](GstElement* source) {
        g_signal_connect(source, "notify::current-device", G_CALLBACK(onInputDeviceChanged),
                         shared);
    });
}

// Messages of a pipeline that waits for its take are of no interest.
GstBusSyncReply dropMessage(GstBus*, GstMessage* message, gpointer) {
    gst_message_unref(message);
    return GST_BUS_DROP;
}

bool isOverridden() {
    const char* override = std::getenv("VELVOX_AUDIO_SOURCE");
    return override && *override;
}

std::vector<GstElement*> elementsFrom(GstElement* first) {
    std::vector<GstElement*> elements;
    for (GstElement* element = first; element;) {
        elements.push_back(element);
        GstPad* out = gst_element_get_static_pad(element, "src");
        GstPad* peer = out ? gst_pad_get_peer(out) : nullptr;
        element = peer ? gst_pad_get_parent_element(peer) : nullptr;
        if (element) gst_object_unref(element);  // the pipeline holds it
        if (peer) gst_object_unref(peer);
        if (out) gst_object_unref(out);
    }
    return elements;
}

// Runs the takes' state changes on one worker thread, in the order asked, so
// a take's start always comes before its end: starting a stream and closing
// the connection to the sound server and the file take round trips that the
// main thread does not wait for.
void runInOrder(std::function<void()> job) {
    static GThreadPool* worker = g_thread_pool_new(
        [](gpointer data, gpointer) {
            std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(data));
            (*job)();
        },
        nullptr, 1, FALSE, nullptr);
    g_thread_pool_push(worker, new std::function<void()>(std::move(job)), nullptr);
}

// Sets a pipeline to NULL and lets it go; what its threads use lives until then.
void tearDown(GstElement* pipeline, std::shared_ptr<GstAudioTake::Shared> shared) {
    runInOrder([pipeline, shared = std::move(shared)] {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(pipeline);
    });
}

// The AAC encoder: VisualOn's when installed, a small library of its own;
// else libav's, which maps FFmpeg's codec, filter and format libraries (and
// what they link, some 25 MB resident) into a process that keeps its input
// ready at rest. Looked up in the registry, without loading either plugin.
std::string aacEncoder(int bitRate) {
    static const char* name = [] {
        GstElementFactory* visualOn = gst_element_factory_find("voaacenc");
        if (!visualOn) return "avenc_aac";
        gst_object_unref(visualOn);
        return "voaacenc";
    }();
    return std::string(name) + " bitrate=" + std::to_string(bitRate);
}

std::string pipelineDescription(const AudioSettings& settings) {
    return audioSourceDescription() +
           " ! audioconvert name=intake ! audioresample ! audio/x-raw,rate=" +
           std::to_string(static_cast<int>(std::lround(settings.sampleRate))) +
           ",channels=" + std::to_string(settings.channels) +
           " ! level name=meter post-messages=true interval=" + std::to_string(kLevelInterval) +
           " ! audioconvert ! " + aacEncoder(static_cast<int>(settings.bitRate)) +
           " ! mp4mux ! filesink name=file sync=false";
}

// Names the input of the pipeline's PulseAudio source. Set as a property, not
// in the description, so that no device name can be read as pipeline syntax.
void setSourceDevice(GstElement* pipeline, const std::string& device) {
    forEachPulseSource(pipeline, [&device](GstElement* source) {
        g_object_set(source, "device", device.c_str(), nullptr);
    });
}

// A pipeline for takes with these settings, its file not yet named; nothing
// and the reason when it cannot be built (unknown element, missing plug-in).
GstElement* buildPipeline(const AudioSettings& settings, std::string& error) {
    GstRuntime::ensureInitialised();
    if (settings.format != AudioFormat::mpeg4Aac) {
        error = "unsupported audio format";
        return nullptr;
    }
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(pipelineDescription(settings).c_str(), &parseError);
    if (parseError) {
        // A partly understood description still yields a pipeline; it is of no use.
        error = parseError->message ? parseError->message : "cannot build the audio pipeline";
        g_error_free(parseError);
        if (pipeline) gst_object_unref(pipeline);
        return nullptr;
    }
    if (!pipeline) {
        error = "cannot build the audio pipeline";
        return nullptr;
    }
    if (!settings.inputDevice.empty()) setSourceDevice(pipeline, settings.inputDevice);
    return pipeline;
}

}  // namespace

std::string audioSourceDescription() {
    if (isOverridden()) return std::getenv("VELVOX_AUDIO_SOURCE");
    return "pulsesrc client-name=Velvox";
}

std::unique_ptr<GstAudioTake> GstAudioTake::create(const std::string& path,
                                                   const AudioSettings& settings,
                                                   std::string& error) {
    GstElement* pipeline = buildPipeline(settings, error);
    if (!pipeline) return nullptr;
    return std::unique_ptr<GstAudioTake>(new GstAudioTake(pipeline, path));
}

GstAudioTake::GstAudioTake(GstElement* pipeline, const std::string& path)
    : pipeline_(pipeline),
      connected_(GST_STATE(pipeline) == GST_STATE_READY),
      shared_(std::make_shared<Shared>()) {
    // A waiting pipeline holds its file sink back in NULL, the only state in
    // which the file may still be named; it then joins the others.
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline_), "file");
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_element_set_locked_state(file, FALSE);
    gst_element_sync_state_with_parent(file);
    gst_object_unref(file);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus, TRUE);  // what a waiting pipeline posted is old news
    gst_bus_set_flushing(bus, FALSE);
    gst_bus_set_sync_handler(bus, onBusMessage, shared_.get(), nullptr);
    gst_object_unref(bus);
    watchInputDevices(pipeline_, shared_.get());
    shared_->pipeline = pipeline_;
    shared_->intake = gst_bin_get_by_name(GST_BIN(pipeline_), "intake");
    shared_->downstream = elementsFrom(shared_->intake);
    GstElement* meter = gst_bin_get_by_name(GST_BIN(pipeline_), "meter");
    GstPad* pad = gst_element_get_static_pad(meter, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, shared_.get(), nullptr);
    gst_object_unref(pad);
    gst_object_unref(meter);
}

GstAudioTake::~GstAudioTake() {
    setEvents({});
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    tearDown(pipeline_, std::move(shared_));
}

bool GstAudioTake::record() {
    if (connected_) {
        // The waiting pipeline's server is known to be there: the stream is
        // created off the main thread, and a refusal is a system stop.
        {
            std::lock_guard lock(shared_->mutex);
            shared_->started = true;
        }
        runInOrder([pipeline = GST_ELEMENT(gst_object_ref(pipeline_)), shared = shared_] {
            if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
                shared->finish(false, "the audio pipeline did not start");
            }
            gst_object_unref(pipeline);
        });
        return true;
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        std::lock_guard lock(shared_->mutex);
        Log::write("recorder: the audio pipeline did not start" +
                   (shared_->errorText.empty() ? std::string() : ": " + shared_->errorText));
        return false;
    }
    // Nothing waits for the first sound here: the key-down must not stall the
    // interface. A live source creates its stream on its own thread, so a
    // failure there (an unknown device, a stream the server refuses) comes
    // later and is a system stop, like one that came while starting.
    bool endedWhileStarting = false;
    bool successfully = false;
    std::string error;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->started = true;
        endedWhileStarting = shared_->ended || shared_->failed;
        shared_->endedBySystem = endedWhileStarting;
        successfully = shared_->ended;
        error = shared_->errorText;
    }
    if (endedWhileStarting) shared_->reportEnd(successfully, error);
    return true;
}

bool GstAudioTake::isRecording() {
    std::lock_guard lock(shared_->mutex);
    return shared_->started && !shared_->stopping && !shared_->endedBySystem;
}

double GstAudioTake::currentTime() {
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->started) return 0;
    }
    // What passed the meter is what the file holds: the time before the first
    // sound, or while a source stalls, is not in it.
    return static_cast<double>(shared_->streamTime.load()) / GST_SECOND;
}

float GstAudioTake::averagePower() {
    return shared_->power.load();
}

void GstAudioTake::setEvents(AudioTakeEvents events) {
    std::lock_guard lock(shared_->eventsMutex);
    shared_->events = std::move(events);
}

bool GstAudioTake::stop() {
    bool close = false;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->started || shared_->stopping) return shared_->ended;
        shared_->stopping = true;
        // Without sound there is nothing to finish: the file is dropped.
        if (shared_->firstBuffer.load() == 0) return true;
        close = !shared_->inputClosed && !shared_->ended && !shared_->failed;
        shared_->inputClosed = true;
    }
    // The muxer writes the file's index only when the end of stream reaches
    // it. It is sent in after the source, which may have stopped delivering
    // (a source suspended at key-up, a headset switching profile).
    if (close) shared_->closeInput(true);
    std::unique_lock lock(shared_->mutex);
    bool complete = shared_->changed.wait_for(lock, kEndOfStreamWait,
                                              [this] { return shared_->ended || shared_->failed; });
    if (!complete) Log::write("recorder: the audio file was not completed in time");
    return shared_->ended;
}

std::optional<int64_t> GstAudioTake::firstBufferTimeForTesting() const {
    int64_t at = shared_->firstBuffer.load();
    if (at == 0) return std::nullopt;
    return at;
}

namespace {

// The sound server's socket, where a restarted server shows itself: the one
// PULSE_SERVER names, else the one in the runtime folder. Empty when unknown
// (a server over the network).
std::string serverSocketPath() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) {
        std::string first(server);
        first = first.substr(0, first.find_first_of(" \t"));
        if (first.rfind("unix:", 0) == 0) first = first.substr(5);
        return first.rfind('/', 0) == 0 ? first : std::string();
    }
    if (const char* runtime = std::getenv("PULSE_RUNTIME_PATH"); runtime && *runtime) {
        return std::string(runtime) + "/native";
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/pulse/native";
    }
    return {};
}

bool socketExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

void dropPipelineLater(GstElement* pipeline) {
    gst_element_call_async(
        pipeline,
        [](GstElement* element, gpointer) { gst_element_set_state(element, GST_STATE_NULL); },
        pipeline, gst_object_unref);
}

}  // namespace

GstAudioInput::GstAudioInput() {
    watchDevices();
    if (isOverridden()) return;
    serverSocket_ = serverSocketPath();
    prepare();
    watchServerSocket();
}

GstAudioInput::~GstAudioInput() {
    prepareSource_.remove();
    if (socketMonitor_) {
        g_signal_handlers_disconnect_by_data(socketMonitor_, this);
        g_object_unref(socketMonitor_);
    }
    if (prepared_) {
        gst_element_set_state(prepared_, GST_STATE_NULL);
        gst_object_unref(prepared_);
    }
    if (devices_) {
        if (devicesWatched_) gst_device_provider_stop(devices_);
        gst_object_unref(devices_);
    }
}

void GstAudioInput::watchDevices() {
    GstRuntime::ensureInitialised();
    if (!devices_) devices_ = gst_device_provider_factory_get_by_name("pulsedeviceprovider");
    if (!devices_) return;
    if (devicesWatched_) gst_device_provider_stop(devices_);
    // Nobody reads the provider's messages: they are dropped, not queued.
    GstBus* bus = gst_device_provider_get_bus(devices_);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    // Without a server now, every listing asks the server itself until the
    // server's socket shows it back.
    devicesWatched_ = gst_device_provider_start(devices_);
}

std::vector<InputDevice> GstAudioInput::inputDevices() {
    std::vector<InputDevice> inputs;
    if (!devices_) return inputs;
    GList* devices = gst_device_provider_get_devices(devices_);
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (!gst_device_has_classes(device, "Audio/Source")) continue;
        // The monitor of an output records what the speakers play.
        GstStructure* properties = gst_device_get_properties(device);
        bool monitor = properties && g_strcmp0(gst_structure_get_string(properties, "device.class"),
                                               "monitor") == 0;
        if (properties) gst_structure_free(properties);
        if (monitor) continue;
        gchar* name = nullptr;
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) {
            g_object_get(device, "internal-name", &name, nullptr);
        }
        gchar* label = gst_device_get_display_name(device);
        if (name && *name) inputs.push_back({name, label && *label ? label : name});
        g_free(label);
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    return inputs;
}

std::string GstAudioInput::resolveDevice(const std::string& wanted) {
    if (wanted.empty() || isOverridden()) return {};
    for (const InputDevice& input : inputDevices()) {
        if (input.name != wanted) continue;
        missingDevice_.clear();
        return wanted;
    }
    if (missingDevice_ != wanted) {
        missingDevice_ = wanted;
        Log::write("recorder: the chosen input " + wanted +
                   " is missing, recording from the default input");
    }
    return {};
}

// The server makes its socket anew whenever it starts: a socket that went
// away or was made again means the waiting pipeline's connection is dead
// (its file may even get the old one's number, so the events tell, not the
// file). Between two starts of the server nothing happens here, so nothing
// wakes the process.
void GstAudioInput::serverSocketChanged(bool replaced) {
    if (replaced && prepared_) {
        Log::write("recorder: the sound server went away");
        dropPipelineLater(std::exchange(prepared_, nullptr));
    }
    if (replaced && socketExists(serverSocket_)) watchDevices();
    // A server that is (back) there gets a waiting pipeline; one that is not
    // yet listening is tried again at its socket's next change.
    if (socketExists(serverSocket_)) prepareWhenIdle();
}

void GstAudioInput::watchServerSocket() {
    if (serverSocket_.empty()) return;
    GFile* socket = g_file_new_for_path(serverSocket_.c_str());
    socketMonitor_ = g_file_monitor_file(socket, G_FILE_MONITOR_NONE, nullptr, nullptr);
    g_object_unref(socket);
    if (!socketMonitor_) return;
    g_signal_connect(
        socketMonitor_, "changed",
        G_CALLBACK(+[](GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer data) {
            bool replaced =
                event == G_FILE_MONITOR_EVENT_DELETED || event == G_FILE_MONITOR_EVENT_CREATED ||
                event == G_FILE_MONITOR_EVENT_MOVED_IN || event == G_FILE_MONITOR_EVENT_MOVED_OUT;
            static_cast<GstAudioInput*>(data)->serverSocketChanged(replaced);
        }),
        this);
}

NewAudioTake GstAudioInput::makeTake(const std::string& path, const AudioSettings& wanted) {
    AudioSettings settings = wanted;
    settings.inputDevice = resolveDevice(wanted.inputDevice);
    GstElement* pipeline = nullptr;
    if (prepared_ && !isOverridden() && settings.format == preparedSettings_.format &&
        settings.sampleRate == preparedSettings_.sampleRate &&
        settings.channels == preparedSettings_.channels &&
        settings.bitRate == preparedSettings_.bitRate &&
        settings.inputDevice == preparedSettings_.inputDevice) {
        pipeline = std::exchange(prepared_, nullptr);
    }
    // The waiting pipeline was made for another input: it goes.
    if (prepared_) dropPipelineLater(std::exchange(prepared_, nullptr));
    std::string error;
    if (!pipeline) pipeline = buildPipeline(settings, error);
    if (!pipeline) return {nullptr, error};
    preparedSettings_ = settings;
    prepareWhenIdle();
    return {std::unique_ptr<GstAudioTake>(new GstAudioTake(pipeline, path)), ""};
}

bool GstAudioInput::isPreparedForTesting() const {
    return prepared_ != nullptr;
}

void GstAudioInput::prepare() {
    if (prepared_ || isOverridden()) return;
    std::string error;
    GstElement* pipeline = buildPipeline(preparedSettings_, error);
    if (!pipeline) return;
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, dropMessage, nullptr, nullptr);
    gst_object_unref(bus);
    // READY opens the connection to the sound server and goes no further.
    // The file sink stays behind until the take names its file.
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    gst_element_set_locked_state(file, TRUE);
    gst_object_unref(file);
    if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        // No server now: the next take builds its own pipeline and says why.
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return;
    }
    prepared_ = pipeline;
}

void GstAudioInput::prepareWhenIdle() {
    if (prepareSource_ || prepared_ || isOverridden()) return;
    // Connecting costs the main thread a few server round trips: not at key-down.
    prepareSource_ = g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            auto* input = static_cast<GstAudioInput*>(data);
            input->prepareSource_.forget();
            input->prepare();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

}  // namespace velvox

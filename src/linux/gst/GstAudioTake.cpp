#include "linux/gst/GstAudioTake.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "linux/gst/GstPipelineBuilder.h"

namespace velvox {

namespace {

// How long stop() waits for the muxer to write its index after end of stream:
// a few milliseconds as a rule; past this the take is reported unfinished
// rather than hold the interface.
constexpr auto kEndOfStreamWait = std::chrono::milliseconds(750);

}  // namespace

struct GstAudioTake::Shared {
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
    GstOwned<GstElement> intake;
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
        g_autoptr(GstPad) pad = gst_element_get_static_pad(intake.get(), "sink");
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
    g_autoptr(GstMessage) dropped = message;
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
            g_autoptr(GError) error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            std::string text = error && error->message ? error->message : "unknown error";
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
    g_autofree gchar* name = nullptr;
    g_object_get(source, "current-device", &name, nullptr);
    std::string current = name ? name : "";
    if (auto original = shared->movedFrom(current)) {
        shared->inputEnded("the input moved from " + *original + " to " + current);
    }
}

void watchInputDevices(GstElement* pipeline, GstAudioTake::Shared* shared) {
    GstPipelineBuilder::forEachPulseSource(pipeline, [shared](GstElement* source) {
        g_signal_connect(source, "notify::current-device", G_CALLBACK(onInputDeviceChanged),
                         shared);
    });
}

std::vector<GstElement*> elementsFrom(GstElement* first) {
    std::vector<GstElement*> elements;
    for (GstElement* element = first; element;) {
        elements.push_back(element);
        g_autoptr(GstPad) out = gst_element_get_static_pad(element, "src");
        g_autoptr(GstPad) peer = out ? gst_pad_get_peer(out) : nullptr;
        g_autoptr(GstElement) next = peer ? gst_pad_get_parent_element(peer) : nullptr;
        element = next;  // the pipeline holds it
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
void tearDown(GstOwned<GstElement> pipeline, std::shared_ptr<GstAudioTake::Shared> shared) {
    // A job must be copyable: the reference travels bare and is owned again there.
    runInOrder([pipeline = pipeline.release(), shared = std::move(shared)] {
        g_autoptr(GstElement) owned = pipeline;
        gst_element_set_state(owned, GST_STATE_NULL);
        g_autoptr(GstBus) bus = gst_element_get_bus(owned);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    });
}

}  // namespace

std::unique_ptr<GstAudioTake> GstAudioTake::create(const std::string& path,
                                                   const AudioSettings& settings,
                                                   std::string& error) {
    GstOwned<GstElement> pipeline = GstPipelineBuilder::build(settings, error);
    if (!pipeline) return nullptr;
    return std::unique_ptr<GstAudioTake>(new GstAudioTake(std::move(pipeline), path));
}

GstAudioTake::GstAudioTake(GstOwned<GstElement> pipeline, const std::string& path)
    : pipeline_(std::move(pipeline)),
      connected_(GST_STATE(pipeline_.get()) == GST_STATE_READY),
      shared_(std::make_shared<Shared>()) {
    GstBin* bin = GST_BIN(pipeline_.get());
    {
        // A waiting pipeline holds its file sink back in NULL, the only state in
        // which the file may still be named; it then joins the others.
        g_autoptr(GstElement) file = gst_bin_get_by_name(bin, GstPipelineBuilder::kFile);
        g_object_set(file, "location", path.c_str(), nullptr);
        gst_element_set_locked_state(file, FALSE);
        gst_element_sync_state_with_parent(file);
    }
    {
        g_autoptr(GstBus) bus = gst_element_get_bus(pipeline_.get());
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_bus_set_flushing(bus, TRUE);  // what a waiting pipeline posted is old news
        gst_bus_set_flushing(bus, FALSE);
        gst_bus_set_sync_handler(bus, onBusMessage, shared_.get(), nullptr);
    }
    watchInputDevices(pipeline_.get(), shared_.get());
    shared_->pipeline = pipeline_.get();
    shared_->intake.reset(gst_bin_get_by_name(bin, GstPipelineBuilder::kIntake));
    shared_->downstream = elementsFrom(shared_->intake.get());
    g_autoptr(GstElement) meter = gst_bin_get_by_name(bin, GstPipelineBuilder::kMeter);
    g_autoptr(GstPad) pad = gst_element_get_static_pad(meter, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, shared_.get(), nullptr);
}

GstAudioTake::~GstAudioTake() {
    setEvents({});
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    tearDown(std::move(pipeline_), std::move(shared_));
}

bool GstAudioTake::record() {
    if (connected_) {
        // The waiting pipeline's server is known to be there: the stream is
        // created off the main thread, and a refusal is a system stop.
        {
            std::lock_guard lock(shared_->mutex);
            shared_->started = true;
        }
        runInOrder([pipeline = GST_ELEMENT(gst_object_ref(pipeline_.get())), shared = shared_] {
            g_autoptr(GstElement) owned = pipeline;
            if (gst_element_set_state(owned, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
                shared->finish(false, "the audio pipeline did not start");
            }
        });
        return true;
    }
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
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

}  // namespace velvox

#include "linux/gst/GstAudioInput.h"

#include <gst/gst.h>

#include <utility>

#include "base/Log.h"

namespace velvox {

namespace {

// Messages of a pipeline that waits for its take are of no interest.
GstBusSyncReply dropMessage(GstBus*, GstMessage* message, gpointer) {
    g_autoptr(GstMessage) dropped = message;
    return GST_BUS_DROP;
}

constexpr guint kPrepareAfterTakeStartMs = 300;

// Whether a pipeline made for `made` records what `wanted` asks for.
bool samePipeline(const AudioSettings& made, const AudioSettings& wanted) {
    return made.format == wanted.format && made.sampleRate == wanted.sampleRate &&
           made.channels == wanted.channels && made.bitRate == wanted.bitRate &&
           made.inputDevice == wanted.inputDevice;
}

void dropPipelineLater(GstOwned<GstElement> pipeline) {
    GstElement* owned = pipeline.release();  // handed to the call, which lets it go
    gst_element_call_async(
        owned,
        [](GstElement* element, gpointer) { gst_element_set_state(element, GST_STATE_NULL); },
        owned, gst_object_unref);
}

}  // namespace

GstAudioInput::GstAudioInput() {
    if (GstPipelineBuilder::isSourceOverridden()) return;
    prepared_ = connectedPipeline(preparedSettings_);
    server_.followServer({.replaced = [this] { serverReplaced(); },
                          // A server that is (back) there gets a waiting pipeline.
                          .present = [this] { prepareInBackground(); }});
}

GstAudioInput::~GstAudioInput() {
    prepareSoon_.remove();
    alive_.reset();
    if (preparer_.joinable()) preparer_.join();
    if (prepared_) {
        gst_element_set_state(prepared_.get(), GST_STATE_NULL);
        prepared_.reset();
    }
}

std::vector<InputDevice> GstAudioInput::inputDevices() {
    return server_.inputDevices();
}

std::string GstAudioInput::resolveDevice(const std::string& wanted) {
    if (wanted.empty() || GstPipelineBuilder::isSourceOverridden()) return {};
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

// The waiting pipeline's connection died with the server.
void GstAudioInput::serverReplaced() {
    ++serversGone_;
    if (!prepared_) return;
    Log::write("recorder: the sound server went away");
    dropPipelineLater(std::move(prepared_));
}

NewAudioTake GstAudioInput::makeTake(const std::string& path, const AudioSettings& wanted) {
    AudioSettings settings = wanted;
    settings.inputDevice = resolveDevice(wanted.inputDevice);
    GstOwned<GstElement> pipeline;
    if (prepared_ && !GstPipelineBuilder::isSourceOverridden() &&
        samePipeline(preparedSettings_, settings)) {
        pipeline = std::move(prepared_);
    }
    // The waiting pipeline was made for another input: it goes.
    if (prepared_) dropPipelineLater(std::move(prepared_));
    std::string error;
    if (!pipeline) pipeline = GstPipelineBuilder::build(settings, error);
    if (!pipeline) return {nullptr, error};
    preparedSettings_ = settings;
    // Not while this take's own stream is being set up: connecting the next
    // one at the same moment keeps the sound server from it.
    prepareSoon_ = g_timeout_add(
        kPrepareAfterTakeStartMs,
        [](gpointer data) -> gboolean {
            auto* input = static_cast<GstAudioInput*>(data);
            input->prepareSoon_.forget();
            input->prepareInBackground();
            return G_SOURCE_REMOVE;
        },
        this);
    return {std::unique_ptr<GstAudioTake>(new GstAudioTake(std::move(pipeline), path)), ""};
}

bool GstAudioInput::isPreparedForTesting() const {
    return prepared_ != nullptr;
}

GstOwned<GstElement> GstAudioInput::connectedPipeline(const AudioSettings& settings) {
    std::string error;
    GstOwned<GstElement> pipeline = GstPipelineBuilder::build(settings, error);
    if (!pipeline) return nullptr;
    {
        g_autoptr(GstBus) bus = gst_element_get_bus(pipeline.get());
        gst_bus_set_sync_handler(bus, dropMessage, nullptr, nullptr);
    }
    {
        // READY opens the connection to the sound server and goes no further.
        // The file sink stays behind until the take names its file.
        g_autoptr(GstElement) file =
            gst_bin_get_by_name(GST_BIN(pipeline.get()), GstPipelineBuilder::kFile);
        gst_element_set_locked_state(file, TRUE);
    }
    if (gst_element_set_state(pipeline.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        // No server now: the next take builds its own pipeline and says why.
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return nullptr;
    }
    return pipeline;
}

void GstAudioInput::prepareInBackground() {
    if (preparing_ || prepared_ || GstPipelineBuilder::isSourceOverridden()) return;
    preparing_ = true;
    if (preparer_.joinable()) preparer_.join();  // done: it handed its pipeline over
    struct Handed {
        GstAudioInput* input;
        std::weak_ptr<int> alive;
        AudioSettings settings;
        uint64_t servers;
        GstOwned<GstElement> pipeline;
    };
    auto* handed = new Handed{this, alive_, preparedSettings_, serversGone_, nullptr};
    preparer_ = std::thread([handed] {
        handed->pipeline = connectedPipeline(handed->settings);
        g_idle_add_full(
            G_PRIORITY_LOW,
            [](gpointer data) -> gboolean {
                auto* handed = static_cast<Handed*>(data);
                if (!handed->alive.expired())
                    handed->input->takePrepared(std::move(handed->pipeline), handed->settings,
                                                handed->servers);
                return G_SOURCE_REMOVE;
            },
            handed,
            [](gpointer data) {
                std::unique_ptr<Handed> handed(static_cast<Handed*>(data));
                if (handed->pipeline) gst_element_set_state(handed->pipeline.get(), GST_STATE_NULL);
            });
    });
}

void GstAudioInput::takePrepared(GstOwned<GstElement> pipeline, const AudioSettings& settings,
                                 uint64_t servers) {
    preparing_ = false;
    // Meanwhile a take may have asked for another input, or the server gone
    // (the pipeline may then hold a connection to the old one): the next
    // one is made for what there is now.
    bool stale = servers != serversGone_ || !samePipeline(settings, preparedSettings_);
    if (pipeline && !prepared_ && !stale) {
        prepared_ = std::move(pipeline);
        return;
    }
    if (pipeline) dropPipelineLater(std::move(pipeline));
    if (stale) prepareInBackground();
}

}  // namespace velvox

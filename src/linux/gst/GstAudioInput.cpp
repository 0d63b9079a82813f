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
    prepare();
    server_.followServer({.replaced = [this] { serverReplaced(); },
                          // A server that is (back) there gets a waiting pipeline.
                          .present = [this] { prepareWhenIdle(); }});
}

GstAudioInput::~GstAudioInput() {
    prepareSource_.remove();
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
    if (!prepared_) return;
    Log::write("recorder: the sound server went away");
    dropPipelineLater(std::move(prepared_));
}

NewAudioTake GstAudioInput::makeTake(const std::string& path, const AudioSettings& wanted) {
    AudioSettings settings = wanted;
    settings.inputDevice = resolveDevice(wanted.inputDevice);
    GstOwned<GstElement> pipeline;
    if (prepared_ && !GstPipelineBuilder::isSourceOverridden() &&
        settings.format == preparedSettings_.format &&
        settings.sampleRate == preparedSettings_.sampleRate &&
        settings.channels == preparedSettings_.channels &&
        settings.bitRate == preparedSettings_.bitRate &&
        settings.inputDevice == preparedSettings_.inputDevice) {
        pipeline = std::move(prepared_);
    }
    // The waiting pipeline was made for another input: it goes.
    if (prepared_) dropPipelineLater(std::move(prepared_));
    std::string error;
    if (!pipeline) pipeline = GstPipelineBuilder::build(settings, error);
    if (!pipeline) return {nullptr, error};
    preparedSettings_ = settings;
    prepareWhenIdle();
    return {std::unique_ptr<GstAudioTake>(new GstAudioTake(std::move(pipeline), path)), ""};
}

bool GstAudioInput::isPreparedForTesting() const {
    return prepared_ != nullptr;
}

void GstAudioInput::prepare() {
    if (prepared_ || GstPipelineBuilder::isSourceOverridden()) return;
    std::string error;
    GstOwned<GstElement> pipeline = GstPipelineBuilder::build(preparedSettings_, error);
    if (!pipeline) return;
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
        return;
    }
    prepared_ = std::move(pipeline);
}

void GstAudioInput::prepareWhenIdle() {
    if (prepareSource_ || prepared_ || GstPipelineBuilder::isSourceOverridden()) return;
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

#include "linux/gst/GstPipelineBuilder.h"

#include <gst/gst.h>

#include <cmath>
#include <cstdlib>
#include <utility>

#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

// How often `level` measures the input, in nanoseconds: fast enough for a
// meter drawn at 30 frames a second.
constexpr guint64 kLevelInterval = 50 * GST_MSECOND;

// The AAC encoder: VisualOn's when installed, a small library of its own;
// else libav's, which maps FFmpeg's codec, filter and format libraries (and
// what they link, some 25 MB resident) into a process that keeps its input
// ready at rest. Looked up in the registry, without loading either plugin.
std::string aacEncoder(int bitRate) {
    static const char* name = [] {
        const char* visualOn = GstRuntime::firstInstalled({"voaacenc"});
        return visualOn ? visualOn : "avenc_aac";
    }();
    return std::string(name) + " bitrate=" + std::to_string(bitRate);
}

std::string pipelineDescription(const AudioSettings& settings) {
    return audioSourceDescription() + " ! audioconvert name=" + GstPipelineBuilder::kIntake +
           " ! audioresample ! audio/x-raw,rate=" +
           std::to_string(static_cast<int>(std::lround(settings.sampleRate))) +
           ",channels=" + std::to_string(settings.channels) +
           " ! level name=" + GstPipelineBuilder::kMeter +
           " post-messages=true interval=" + std::to_string(kLevelInterval) + " ! audioconvert ! " +
           aacEncoder(static_cast<int>(settings.bitRate)) +
           " ! mp4mux ! filesink name=" + GstPipelineBuilder::kFile + " sync=false";
}

// Names the input of the pipeline's PulseAudio source. Set as a property, not
// in the description, so that no device name can be read as pipeline syntax.
void setSourceDevice(GstElement* pipeline, const std::string& device) {
    GstPipelineBuilder::forEachPulseSource(pipeline, [&device](GstElement* source) {
        g_object_set(source, "device", device.c_str(), nullptr);
    });
}

}  // namespace

std::string audioSourceDescription() {
    if (GstPipelineBuilder::isSourceOverridden()) return std::getenv("VELVOX_AUDIO_SOURCE");
    return "pulsesrc client-name=Velvox";
}

namespace GstPipelineBuilder {

bool isSourceOverridden() {
    const char* override = std::getenv("VELVOX_AUDIO_SOURCE");
    return override && *override;
}

GstOwned<GstElement> build(const AudioSettings& settings, std::string& error) {
    GstRuntime::ensureInitialised();
    if (settings.format != AudioFormat::mpeg4Aac) {
        error = "unsupported audio format";
        return nullptr;
    }
    g_autoptr(GError) parseError = nullptr;
    g_autoptr(GstElement) pipeline =
        gst_parse_launch(pipelineDescription(settings).c_str(), &parseError);
    if (parseError) {
        // A partly understood description still yields a pipeline; it is of no use.
        error = parseError->message ? parseError->message : "cannot build the audio pipeline";
        return nullptr;
    }
    if (!pipeline) {
        error = "cannot build the audio pipeline";
        return nullptr;
    }
    if (!settings.inputDevice.empty()) setSourceDevice(pipeline, settings.inputDevice);
    return GstOwned<GstElement>(std::exchange(pipeline, nullptr));
}

void forEachPulseSource(GstElement* pipeline, const std::function<void(GstElement*)>& use) {
    g_autoptr(GstIterator) elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    g_auto(GValue) item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "pulsesrc") == 0) use(element);
        g_value_reset(&item);
    }
}

}  // namespace GstPipelineBuilder

}  // namespace velvox

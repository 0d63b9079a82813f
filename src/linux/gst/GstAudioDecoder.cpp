#include "linux/gst/GstAudioDecoder.h"

#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "linux/gst/GstRuntime.h"

namespace velvox {

namespace {

constexpr const char* kCannotDecode = "could not decode the recording: ";

// How long a decode may go without a sample reaching the end of the
// pipeline before it is given up. A take decodes hundreds of times faster
// than it plays, so only a stuck element goes this long (decodebin at times
// swallows the error of a broken file and then waits for good); a long file
// is never cut short, as each sample that arrives starts the wait anew.
constexpr GstClockTime kStallLimit = 5 * GST_SECOND;

// The AAC decoder for takes: faad when installed, a small library of its
// own; else libav's, which maps FFmpeg's libraries (some 40 MB resident,
// never unloaded) into the long-running application. faad takes up to twice
// as long, some 4 ms rather than 2 for ten seconds of sound.
const char* aacDecoder() {
    static const char* name = GstRuntime::firstInstalled({"faad", "avdec_aac"});
    return name;
}

std::string pipelineDescription(const std::string& decoding) {
    return "filesrc name=file ! " + decoding +
           " ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=" +
           std::to_string(AudioDecoder::kSampleRate) +
           ",channels=" + std::to_string(AudioDecoder::kChannels) +
           " ! fakesink name=samples sync=false";
}

// An MP4 file opens with its file-type box: a 32-bit size, then "ftyp".
bool isMp4(std::ifstream& file) {
    char head[8] = {};
    return file.read(head, sizeof head) && std::memcmp(head + 4, "ftyp", 4) == 0;
}

// The samples as they leave the pipeline, appended on its streaming thread;
// the count lets the waiting thread see progress without touching them.
struct Collected {
    std::string pcm;
    std::atomic<size_t> size{0};

    void append(GstBuffer* buffer) {
        size_t at = pcm.size(), length = gst_buffer_get_size(buffer);
        pcm.resize(at + length);
        gst_buffer_extract(buffer, 0, pcm.data() + at, length);
        size.store(pcm.size(), std::memory_order_release);
    }
};

GstPadProbeReturn onSamples(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* collected = static_cast<Collected*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        collected->append(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info)) {
        for (guint i = 0, n = gst_buffer_list_length(list); i < n; ++i)
            collected->append(gst_buffer_list_get(list, i));
    }
    return GST_PAD_PROBE_OK;
}

std::string errorText(GstMessage* message) {
    g_autoptr(GError) error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    return error && error->message ? error->message : "the decoder failed";
}

// Waits for the end of the stream or an error, for as long as samples keep
// coming. Leaves the pipeline running: the caller stops it.
Result<std::monostate, std::string> finish(GstElement* pipeline, const Collected& collected) {
    g_autoptr(GstBus) bus = gst_element_get_bus(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The element that refused has said why on the bus, as a rule.
        g_autoptr(GstMessage) message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        return Failure{message ? errorText(message) : std::string("the decoder would not start")};
    }
    size_t seen = 0;
    for (;;) {
        g_autoptr(GstMessage) message = gst_bus_timed_pop_filtered(
            bus, kStallLimit, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) return std::monostate{};
        if (message) return Failure{errorText(message)};
        size_t now = collected.size.load(std::memory_order_acquire);
        if (now == seen) return Failure{std::string("decoding stopped making progress")};
        seen = now;
    }
}

Result<std::string, std::string> run(const std::string& decoding, const std::string& path) {
    g_autoptr(GError) parseError = nullptr;
    g_autoptr(GstElement) pipeline =
        gst_parse_launch(pipelineDescription(decoding).c_str(), &parseError);
    if (parseError || !pipeline) {
        // A partly understood description still yields a pipeline; it is of no use.
        return Failure{std::string("a GStreamer plug-in is missing (") +
                       (parseError ? parseError->message : decoding.c_str()) + ")"};
    }
    // Set as a property, not in the description, so that no path is read as
    // pipeline syntax.
    g_autoptr(GstElement) file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    g_object_set(file, "location", path.c_str(), nullptr);

    Collected collected;
    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline), "samples");
    g_autoptr(GstPad) pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      onSamples, &collected, nullptr);
    auto finished = finish(pipeline, collected);
    // Joins the streaming threads: after this nothing appends any more.
    gst_element_set_state(pipeline, GST_STATE_NULL);

    if (!finished.ok()) return Failure{std::move(finished.error())};
    if (collected.pcm.empty()) return Failure{std::string("the file holds no audio")};
    return std::move(collected.pcm);
}

}  // namespace

Result<std::string, std::string> GstAudioDecoder::decode(const std::string& path) {
    auto failed = [](std::string reason) { return Failure{kCannotDecode + std::move(reason)}; };
    // Checked first for a plain answer, and because filesrc would block for
    // good reading a pipe or a device that never ends.
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return failed("the file does not exist");
    if (!std::filesystem::is_regular_file(status)) return failed("it is not a file");
    if (std::filesystem::file_size(path, error) == 0 && !error) return failed("the file is empty");
    std::ifstream file(path, std::ios::binary);
    if (!file) return failed("the file cannot be read");
    const bool mp4 = isMp4(file);
    file.close();

    GstRuntime::ensureInitialised();
    std::string general = "decodebin";
    if (mp4) {
        if (const char* decoder = aacDecoder()) {
            auto decoded = run(std::string("qtdemux ! ") + decoder, path);
            if (decoded.ok()) return decoded;
        }
        // The demuxer stays outside decodebin: decodebin swallows an error
        // that a demuxer it has just plugged posts while starting (as qtdemux
        // does at once for a file cut short), and would then wait for good.
        general = "qtdemux ! decodebin";
    }
    auto decoded = run(general, path);
    if (!decoded.ok()) return failed(std::move(decoded.error()));
    return decoded;
}

}  // namespace velvox

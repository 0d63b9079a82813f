#pragma once

#include <functional>
#include <string>

#include "linux/gst/GstHandles.h"
#include "platform/AudioTake.h"

typedef struct _GstElement GstElement;

namespace velvox {

// The source element description: VELVOX_AUDIO_SOURCE when set, else the
// PulseAudio default input.
std::string audioSourceDescription();

// The GStreamer pipeline of a take: which source records, and the encoder and
// muxer that write the file, chosen by what is installed.
namespace GstPipelineBuilder {

// The names of the pipeline's elements that a take reaches for: the first
// element after the source (where the take's end is sent in), the level
// meter and the file sink.
inline constexpr const char* kIntake = "intake";
inline constexpr const char* kMeter = "meter";
inline constexpr const char* kFile = "file";

// True when VELVOX_AUDIO_SOURCE names the source: every take then builds its
// own pipeline, and the sound server's inputs are not consulted.
bool isSourceOverridden();

// A pipeline for takes with these settings, in NULL state, its file not yet
// named; nothing and the reason when it cannot be built (unknown element,
// missing plug-in).
GstOwned<GstElement> build(const AudioSettings& settings, std::string& error);

// Each PulseAudio source inside the pipeline, wherever the description put it.
void forEachPulseSource(GstElement* pipeline, const std::function<void(GstElement*)>& use);

}  // namespace GstPipelineBuilder

}  // namespace velvox

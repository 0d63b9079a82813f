#include "linux/gst/GstMicrophoneAccess.h"

#include <utility>

#include "linux/gst/GstAudioInput.h"
#include "linux/gst/GstPipelineBuilder.h"

namespace velvox {

GstMicrophoneAccess::GstMicrophoneAccess(std::shared_ptr<GstAudioInput> input)
    : input_(std::move(input)) {}

bool GstMicrophoneAccess::inputExists() {
    if (GstPipelineBuilder::isSourceOverridden()) return true;
    return input_ && !input_->inputDevices().empty();
}

MicrophoneAuthorization GstMicrophoneAccess::status() {
    return inputExists() ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
}

void GstMicrophoneAccess::requestAccess(std::function<void(bool granted)> completion) {
    bool granted = inputExists();
    if (completion) completion(granted);
}

}  // namespace velvox

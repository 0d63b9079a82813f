#include "app/TranscribeCommand.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>

#include "app/DictationPipeline.h"
#include "base/Files.h"
#include "text/Smart.h"

namespace velvox {

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

struct Outcome {
    int status = 0;
    std::string output;
    std::string error;
};

}  // namespace

int transcribeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* usage = "usage: velvox transcribe FILE [--kind prompt|email|message|note]\n";
    if (args.empty() || args.size() == 2 || args.size() > 3) {
        err << usage;
        return kUsageError;
    }
    const std::string& file = args[0];
    std::optional<Smart::Kind> kind;
    if (args.size() == 3) {
        kind = args[1] == "--kind" ? Smart::fromRawValue(args[2]) : std::nullopt;
        if (!kind) {
            err << usage;
            return kUsageError;
        }
    }
    if (auto reason = Files::whyUnreadable(file)) {
        err << "cannot read " << file << ": " << *reason << "\n";
        return kUsageError;
    }

    Config config = Config::load();
    auto prompt = DictationPipeline::preparePrompt(config, kind);
    auto done = std::make_shared<std::promise<Outcome>>();
    DictationPipeline::Handlers handlers;
    handlers.transcriptionFailed = [done](const std::string& message, std::shared_ptr<TakeFile>) {
        done->set_value({kFailed, "", message});
    };
    handlers.heardNothing = [done] {
        done->set_value({kFailed, "", "Heard nothing, check the input device"});
    };
    handlers.polishing = [] {};
    handlers.finished = [done](const DictationPipeline::Result& result) {
        Outcome outcome{0, result.tidied, ""};
        if (result.polishFailure) {
            outcome.error = "polish failed, using raw transcript: " + *result.polishFailure;
        }
        done->set_value(outcome);
    };
    auto future = done->get_future();
    // The file is the user's: read, never deleted.
    DictationPipeline::process(TakeFile::borrowed(file), config, kind, prompt.text,
                               std::move(handlers));
    Outcome outcome = future.get();
    if (!outcome.error.empty()) err << outcome.error << "\n";
    if (outcome.status == 0) out << outcome.output << "\n";
    return outcome.status;
}

}  // namespace velvox

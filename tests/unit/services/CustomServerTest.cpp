// Servers of the user's own: what goes out to them, the WAV fallback, and what
// the user is told when a server is not what it should be.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fakes/FakeAudioDecoder.h"
#include "services/CustomServer.h"
#include "services/Wav.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

const std::string kTranscriptions = "/v1/audio/transcriptions";
const std::string kChat = "/v1/chat/completions";
const std::string kAudio = std::string(40000, 'a');  // ten seconds at the recorder's rate

class CustomServerTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        Platform::installAudioDecoder(decoder);
        CustomServer::forgetRememberedForTesting();
    }
    // Both steps at the loopback server, and no Groq key: none is needed.
    Config custom(const std::string& key = "") const {
        Config config = ownKeyConfig();
        config.groqApiKey = "";
        config.transcribeProvider = config.cleanupProvider = "custom";
        config.transcribeBaseUrl = config.cleanupBaseUrl = server->base() + "/v1/";
        config.transcribeApiKey = config.cleanupApiKey = key;
        return config;
    }
    std::string said(const std::string& step = "transcription") const {
        return "The " + step + " server at " + server->base();
    }
    std::string outcome(const API::TextResult& result) const {
        return result.ok() ? result.value() : result.errorDescription();
    }
    std::vector<std::string> uploadedFiles() const {
        std::vector<std::string> names;
        for (const auto& request : server->requests())
            if (!request.parts.empty()) names.push_back(request.parts.back().filename);
        return names;
    }
    std::shared_ptr<FakeAudioDecoder> decoder = std::make_shared<FakeAudioDecoder>();
};

TEST_F(CustomServerTest, AddressesAreCheckedBeforeAnythingIsSent) {
    struct Case {
        const char* base;
        const char* key;
        const char* checked;  // the base requests go to, or the start of the refusal
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/v1/", "sk", "http://127.0.0.1:8080"},
        {" http://localhost:8080/ ", "sk", "http://localhost:8080"},
        {"http://[::1]:9000/V1", "sk", "http://[::1]:9000"},
        {"https://gateway.example.com/ai", "sk", "https://gateway.example.com/ai"},
        {"http://192.168.200.20:8000", "", "http://192.168.200.20:8000"},
        {"http://gpubox:8000", "", "http://gpubox:8000"},
        {"http://whisper.local", "", "http://whisper.local"},
        {"http://[fd00::5]:80", "", "http://[fd00::5]:80"},
        {"http://[::ffff:192.168.1.5]", "", "http://[::ffff:192.168.1.5]"},
        {"http://192.168.1.20:8000", "sk",
         "The transcription server at http://192.168.1.20:8000 takes a key over plain http://"},
        {"http://10.0.0.9", "sk", "The transcription server at http://10.0.0.9 takes a key"},
        {"http://203.0.113.7:8080", "",
         "The transcription server at http://203.0.113.7:8080 is on the internet"},
        {"http://whisper.example.com", "",
         "The transcription server at http://whisper.example.com is on the internet"},
        {"http://[2001:db8::1]", "",
         "The transcription server at http://[2001:db8::1] is on the internet"},
        {"127.0.0.1:8080", "",
         "The transcription server address \"127.0.0.1:8080\" is not a web address"},
        {"http://127.0.0.1:8080/?model=x", "", "The transcription server address"},
        {"", "", "The transcription server has no address"},
    };
    for (const auto& [base, key, checked] : cases) {
        Config config;
        config.transcribeBaseUrl = base;
        config.transcribeApiKey = key;
        auto server = CustomServer::of(config, CustomServer::Step::transcription);
        std::string got = server.ok() ? server.value().base : server.error();
        EXPECT_TRUE(got.starts_with(checked)) << base << " gave " << got;
    }
}

// The requests are Groq's shapes at the user's address, with a key only when
// one is set.
TEST_F(CustomServerTest, EachStepSendsTheOpenAIShapesWithTheKeyOnlyWhenSet) {
    server->answer(kTranscriptions, 200, R"({"text":" heard \n"})");
    server->answer(kChat, 200, R"({"choices":[{"message":{"content":" Polished.\n"}}]})");
    std::string file = writeAudio(kAudio);
    for (const std::string key : {"", "sk-local"}) {
        Config config = custom(key);
        std::string authorization = key.empty() ? "" : "authorization: Bearer " + key + "\n";
        EXPECT_EQ(outcome(transcribeNow(file, config)), "heard");
        auto upload = server->lastRequest();
        EXPECT_EQ(upload.path, kTranscriptions);
        EXPECT_EQ(headersOf(upload), authorization + "content-type: " +
                                         client->lastRequest().header("Content-Type").value_or("") +
                                         "\n");
        ASSERT_EQ(upload.parts.size(), 4u);
        EXPECT_EQ(upload.parts[0].content, "whisper-large-v3-turbo");
        EXPECT_EQ(std::tie(upload.parts[3].filename, upload.parts[3].contentType),
                  std::tuple("audio.m4a", "audio/mp4"));
        EXPECT_TRUE(upload.parts[3].content == kAudio);
        EXPECT_DOUBLE_EQ(client->lastRequest().timeoutSeconds, 30 + 2 * 10)
            << "ten seconds of speech, two seconds of patience for each";

        EXPECT_EQ(outcome(polishNow("a b", "Be brief.", config)), "Polished.");
        EXPECT_DOUBLE_EQ(client->lastRequest().timeoutSeconds, 30 + 2 * 3 / 15.0)
            << "three characters, as spoken at 15 a second";
        auto chat = server->lastRequest();
        EXPECT_EQ(chat.path, kChat);
        EXPECT_EQ(headersOf(chat), authorization + "content-type: application/json\n");
        EXPECT_EQ(nlohmann::json::parse(chat.body),
                  nlohmann::json::parse(R"({"model":"openai/gpt-oss-120b","temperature":0.2,
                      "max_tokens":2048,"messages":[{"role":"system","content":"Be brief."},
                      {"role":"user","content":"<transcript>\na b\n</transcript>"}]})"));
    }
}

TEST_F(CustomServerTest, AServerThatCannotReadTheRecordingGetsWavOnceAndFromThenOn) {
    std::string file = writeAudio(kAudio);
    const std::string wav = Wav::fromPcm16(decoder->samples, 16000, 1);
    server->answer(kTranscriptions, 200, R"({"text":"hello"})");
    CannedAnswer refusal{.status = 400, .body = R"({"error":"failed to read WAV file"})"};

    Config asIs = custom();
    asIs.transcribeUploadFormat = "m4a";
    server->answerOnce(kTranscriptions, refusal);
    EXPECT_EQ(outcome(transcribeNow(file, asIs)),
              said() + " answered 400: failed to read WAV file");

    server->answerOnce(kTranscriptions, refusal);
    EXPECT_EQ(outcome(transcribeNow(file, custom())), "hello");
    EXPECT_TRUE(server->lastRequest().parts.back().content == wav);
    EXPECT_EQ(server->lastRequest().parts.back().contentType, "audio/wav");
    queue->runUntilIdle();
    EXPECT_EQ(Config::load().transcribeWavServer, server->base())
        << "remembered for the next launch";
    EXPECT_EQ(outcome(transcribeNow(file, custom())), "hello");
    EXPECT_EQ(uploadedFiles(),
              (std::vector<std::string>{"audio.m4a", "audio.m4a", "audio.wav", "audio.wav"}));
    EXPECT_EQ(decoder->paths(), (std::vector<std::string>{file, file}));

    // A server that refuses WAV as well is not asked a third time.
    CustomServer::forgetRememberedForTesting();
    server->answer(kTranscriptions, refusal);
    Config fresh = custom();
    fresh.transcribeWavServer = "";
    size_t before = server->requests().size();
    EXPECT_EQ(outcome(transcribeNow(file, fresh)),
              said() + " answered 400: failed to read WAV file");
    EXPECT_EQ(server->requests().size(), before + 2);
    // A model that does not exist is no format the server cannot read, whatever its name.
    server->answerOnce(kTranscriptions,
                       {.status = 404, .body = R"({"error":{"message":"no model wav2vec"}})"});
    EXPECT_EQ(outcome(transcribeNow(file, fresh)), said() + " answered 404: no model wav2vec");
    EXPECT_EQ(server->requests().size(), before + 3);

    Config always = custom();
    always.transcribeUploadFormat = "wav";
    decoder->failure = "could not decode the recording: the file is empty";
    EXPECT_EQ(outcome(transcribeNow(file, always)),
              "The transcription server needs WAV, and could not decode the recording: the file is "
              "empty");
}

TEST_F(CustomServerTest, AServerThatIsNotWhatItShouldBeIsNamedAndSaysWhy) {
    LoopbackServer elsewhere;
    std::string file = writeAudio(kAudio);
    std::string longWords(300, 'x');
    struct Case {
        CannedAnswer answer;
        std::string key;
        std::string told;  // after "The transcription server at BASE"
    };
    const Case cases[] = {
        {{.body = "<!doctype html><html>Router</html>", .contentType = "text/html"},
         "",
         " answered with a web page. Check the address: it is the part before /v1."},
        {{.body = "ok"}, "", " did not answer in JSON. Is it an OpenAI-compatible server?"},
        {{.body = R"({"transcript":"x"})"},
         "",
         " answered without a transcript. Is it an OpenAI-compatible server?"},
        {{.body = R"({"error":"out of memory"})"}, "", " answered with an error: out of memory"},
        {{.status = 404, .body = "Not Found", .contentType = "text/plain"},
         "",
         " has no /v1/audio/transcriptions. Is it an OpenAI-compatible server?"},
        {{.status = 404, .body = R"({"error":{"message":"The model `tiny` does not exist"}})"},
         "",
         " answered 404: The model `tiny` does not exist"},
        {{.status = 422, .body = R"({"detail":")" + longWords + "\"}"},
         "",
         " answered 422: " + longWords.substr(0, 200) + "\u2026"},
        {{.status = 502, .body = "<html>Bad gateway</html>"}, "", " answered 502."},
        {{.status = 401}, "", " wants a key. Add it in the settings."},
        {{.status = 403}, "sk-local", " rejected the key."},
        {{.status = 400, .body = R"({"error":"bad key sk-local"})"},
         "sk-local",
         " answered 400: bad key [redacted]"},
        {{.status = 307, .location = elsewhere.base() + kTranscriptions},
         "sk-local",
         " sent the request on to another address. Velvox does not follow it there; put the "
         "final address in the settings."},
    };
    for (const auto& [answer, key, told] : cases) {
        server->answer(kTranscriptions, answer);
        EXPECT_EQ(outcome(transcribeNow(file, custom(key))), said() + told);
    }
    EXPECT_TRUE(elsewhere.requests().empty()) << "the key never follows a redirect";

    server->answer(kChat, 200, R"({"choices":[{"message":{"content":" \n "}}]})");
    EXPECT_EQ(outcome(polishNow("a", "s", custom())),
              said("polishing") + " answered without a reply. Is it an OpenAI-compatible server?");

    // A server that is not running fails at once, by name.
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);  // nothing listens there now
    Config down = custom();
    down.transcribeBaseUrl = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    EXPECT_EQ(outcome(transcribeNow(file, down)), "The transcription server at " +
                                                      down.transcribeBaseUrl +
                                                      " refused the connection. Is it running?");
    EXPECT_EQ(CustomServer::unreachable({.base = "http://h"},
                                        TransportError{TransportError::Kind::timedOut, ""}, 50)
                  .errorDescription(),
              "The transcription server at http://h did not answer within 50 seconds.");
}

}  // namespace
}  // namespace velvox::testing

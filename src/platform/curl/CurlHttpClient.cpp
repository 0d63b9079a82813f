#include "platform/curl/CurlHttpClient.h"

#include <curl/curl.h>
#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/curl/CurlErrors.h"
#include "platform/curl/CurlWarmSockets.h"

namespace velvox {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kWarmUpTimeoutMilliseconds = 10000;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

TransportError invalidRequest() {
    return {TransportError::Kind::invalidRequest, "The request could not be sent."};
}

TransportError cancelled() {
    return {TransportError::Kind::cancelled, "The request was cancelled."};
}

bool validHeaderName(const std::string& name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F && c != ':';
    });
}

// A line break in a value would start a header of its own.
bool validHeaderValue(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool sameName(const std::string& a, const char* b) {
    std::string lower(a.size(), ' ');
    std::transform(a.begin(), a.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower == b;
}

// The address of the origin with plain http, so that a connect-only transfer
// stops after DNS and TCP; the TLS handshake belongs to the transfer that
// takes the connection over.
std::optional<std::string> plainOriginOf(const std::string& url) {
    CURLU* parts = curl_url();
    std::optional<std::string> result;
    if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            std::string lowerScheme = scheme;
            for (char& c : lowerScheme)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lowerScheme == "http" || lowerScheme == "https") {
                result = std::string("http://") + host + ":" + port + "/";
            }
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(parts);
    return result;
}

}  // namespace

class CurlHttpClient::Worker {
  public:
    // Nothing starts before the first request: initialising curl sets up its
    // TLS library (megabytes resident), which an application that has not
    // used the network yet need not carry.
    explicit Worker(CurlHttpClientOptions options) : options_(std::move(options)) {}

    ~Worker() {
        bool ready;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            ready = ready_;
        }
        // A thread still setting up finds stopping_ once it is done.
        if (ready) curl_multi_wakeup(multi_);
        if (thread_.joinable()) thread_.join();
        if (multi_) curl_multi_cleanup(multi_);
        if (share_) curl_share_cleanup(share_);
    }

    struct Job {
        HttpRequest request;
        HttpCompletion completion;
        std::string connectUrl;
        ConnectCompletion connectCompletion;
    };

    void submit(Job job) {
        bool accepted, ready = false;
        {
            std::lock_guard lock(mutex_);
            accepted = !stopping_;
            if (accepted) {
                incoming_.push_back(std::move(job));
                ready = ready_;
                // The thread sets curl up itself (the first request is the
                // warm-up at key-down, whose thread must not wait for that)
                // and takes this job once it is ready.
                if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
            }
        }
        if (!accepted) {
            finishWithError(job, cancelled());
            return;
        }
        if (ready) curl_multi_wakeup(multi_);
    }

  private:
    struct Transfer {
        CURL* easy = nullptr;
        curl_slist* headers = nullptr;
        Job job;
        std::string received;
        size_t limit = 0;  // 0: none
        ~Transfer() {
            curl_slist_free_all(headers);
            if (easy) curl_easy_cleanup(easy);
        }
    };

    static void finishWithError(Job& job, TransportError error) {
        if (job.completion) {
            job.completion(std::move(error));
        } else if (job.connectCompletion) {
            job.connectCompletion(std::move(error));
        }
    }

    void setUp() {
        initialiseCurlOnce();
        multi_ = curl_multi_init();
        curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
        share_ = curl_share_init();
        // Only the network thread touches the share, so it needs no locks.
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        std::lock_guard lock(mutex_);
        ready_ = true;
    }

    void run() {
        setUp();
        for (;;) {
            std::deque<Job> jobs;
            bool stopping;
            {
                std::lock_guard lock(mutex_);
                jobs.swap(incoming_);
                stopping = stopping_;
            }
            if (stopping) {
                for (auto& job : jobs) finishWithError(job, cancelled());
                cancelActive();
                return;
            }
            for (auto& job : jobs) start(std::move(job));
            int running = 0;
            curl_multi_perform(multi_, &running);
            finishDone();
            warm_.prune(Clock::now());
            curl_multi_poll(multi_, nullptr, 0, waitMilliseconds(), nullptr);
        }
    }

    // How long the thread may sleep: until curl's next timer, or until a
    // kept warm-up socket is due to close. With neither, it sleeps until a
    // request wakes it, so an idle application never wakes for the network.
    int waitMilliseconds() {
        constexpr long kIdleWait = 3'600'000;
        long wait = kIdleWait;
        long curlWait = -1;
        if (curl_multi_timeout(multi_, &curlWait) == CURLM_OK && curlWait >= 0)
            wait = std::min(wait, curlWait);
        if (auto expiry = warm_.nextExpiry()) {
            auto untilExpiry =
                std::chrono::duration_cast<std::chrono::milliseconds>(*expiry - Clock::now())
                    .count() +
                1;
            wait = std::min(wait, std::max<long>(untilExpiry, 0));
        }
        return static_cast<int>(wait);
    }

    void start(Job job) {
        auto transfer = std::make_unique<Transfer>();
        transfer->job = std::move(job);
        bool prepared =
            transfer->job.connectCompletion ? prepareConnect(*transfer) : prepareRequest(*transfer);
        if (!prepared || curl_multi_add_handle(multi_, transfer->easy) != CURLM_OK) {
            finishWithError(transfer->job, invalidRequest());
            return;
        }
        active_[transfer->easy] = std::move(transfer);
    }

    void prepareCommon(Transfer& transfer, const std::string& url, long timeoutMilliseconds) {
        CURL* easy = transfer.easy;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_SHARE, share_);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMilliseconds);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options_.caFile.empty())
            curl_easy_setopt(easy, CURLOPT_CAINFO, options_.caFile.c_str());
        curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    }

    bool prepareRequest(Transfer& transfer) {
        const HttpRequest& request = transfer.job.request;
        transfer.easy = curl_easy_init();
        if (!transfer.easy) return false;
        CURL* easy = transfer.easy;
        double seconds = std::clamp(request.timeoutSeconds, 0.001, 86400.0);
        prepareCommon(transfer, request.url, static_cast<long>(seconds * 1000));
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
        // Waiting for a connection to learn whether it multiplexes makes sense
        // only where it can: HTTP/2 is asked for over TLS alone. Over plain
        // http a request made while others to the same address were starting
        // (a warm-up's connection among them) at times waited on a connection
        // that never took it, until its time-out.
        if (request.url.rfind("https:", 0) == 0) curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Worker::openSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Worker::socketOptions);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Worker::receive);
        transfer.limit = request.maxResponseBytes;
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

        if (request.method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (request.method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            if (request.method != "POST") {
                if (!validHeaderName(request.method)) return false;
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
        }

        // Exactly the caller's headers: switch off the ones curl would add itself.
        bool hasAccept = false, hasExpect = false, hasContentType = false;
        for (const auto& header : request.headers) {
            if (!validHeaderName(header.name) || !validHeaderValue(header.value)) return false;
            std::string line =
                header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
            transfer.headers = curl_slist_append(transfer.headers, line.c_str());
            hasAccept |= sameName(header.name, "accept");
            hasExpect |= sameName(header.name, "expect");
            hasContentType |= sameName(header.name, "content-type");
        }
        if (!hasAccept) transfer.headers = curl_slist_append(transfer.headers, "Accept:");
        if (!hasExpect) transfer.headers = curl_slist_append(transfer.headers, "Expect:");
        if (!hasContentType)
            transfer.headers = curl_slist_append(transfer.headers, "Content-Type:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
        return true;
    }

    bool prepareConnect(Transfer& transfer) {
        auto origin = plainOriginOf(transfer.job.connectUrl);
        if (!origin) return false;
        transfer.easy = curl_easy_init();
        if (!transfer.easy) return false;
        transfer.job.connectUrl = *origin;
        prepareCommon(transfer, transfer.job.connectUrl, kWarmUpTimeoutMilliseconds);
        curl_easy_setopt(transfer.easy, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(transfer.easy, CURLOPT_CLOSESOCKETFUNCTION, &Worker::keepSocket);
        curl_easy_setopt(transfer.easy, CURLOPT_CLOSESOCKETDATA, this);
        return true;
    }

    void finishDone() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            auto found = active_.find(message->easy_handle);
            if (found == active_.end()) continue;
            std::unique_ptr<Transfer> transfer = std::move(found->second);
            active_.erase(found);
            CURLcode code = message->data.result;
            long status = 0;
            curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
            // Removing a connect-only transfer lets go of its connection, which
            // keepSocket() takes into the warm sockets.
            curl_multi_remove_handle(multi_, transfer->easy);
            Job& job = transfer->job;
            if (job.connectCompletion) {
                if (code == CURLE_OK) {
                    job.connectCompletion(std::nullopt);
                } else {
                    job.connectCompletion(transportErrorFor(code));
                }
            } else if (code == CURLE_OK) {
                job.completion(
                    HttpResponse{static_cast<int>(status), std::move(transfer->received)});
            } else {
                job.completion(transportErrorFor(code));
            }
        }
    }

    void cancelActive() {
        for (auto& [easy, transfer] : active_) {
            curl_multi_remove_handle(multi_, easy);
            finishWithError(transfer->job, cancelled());
        }
        active_.clear();
    }

    static size_t receive(char* data, size_t size, size_t count, void* into) {
        auto* transfer = static_cast<Transfer*>(into);
        size_t bytes = size * count;
        // Fewer bytes taken than given ends the transfer with a write error.
        if (transfer->limit && transfer->received.size() + bytes > transfer->limit) return 0;
        transfer->received.append(data, bytes);
        return bytes;
    }

    static curl_socket_t openSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
        auto* worker = static_cast<Worker*>(self);
        if (purpose == CURLSOCKTYPE_IPCXN) {
            curl_socket_t warm = worker->warm_.take(&address->addr, address->addrlen, Clock::now());
            if (warm != CURL_SOCKET_BAD) return warm;
        }
        return ::socket(address->family, address->socktype, address->protocol);
    }

    static int socketOptions(void* self, curl_socket_t socket, curlsocktype) {
        auto* worker = static_cast<Worker*>(self);
        return worker->warm_.wasHandedOut(socket) ? CURL_SOCKOPT_ALREADY_CONNECTED
                                                  : CURL_SOCKOPT_OK;
    }

    static int keepSocket(void* self, curl_socket_t socket) {
        static_cast<Worker*>(self)->warm_.keep(socket, Clock::now());
        return 0;
    }

    CurlHttpClientOptions options_;
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    std::mutex mutex_;
    std::deque<Job> incoming_;
    bool stopping_ = false;
    bool ready_ = false;  // curl is set up: submit() may wake the thread
    // Network thread only:
    std::map<CURL*, std::unique_ptr<Transfer>> active_;
    CurlWarmSockets warm_;
    std::thread thread_;
};

CurlHttpClient::CurlHttpClient(CurlHttpClientOptions options)
    : worker_(std::make_unique<Worker>(std::move(options))) {}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::send(HttpRequest request, HttpCompletion completion) {
    Worker::Job job;
    job.request = std::move(request);
    job.completion = std::move(completion);
    worker_->submit(std::move(job));
}

void CurlHttpClient::connect(const std::string& url, ConnectCompletion completion) {
    Worker::Job job;
    job.connectUrl = url;
    job.connectCompletion = std::move(completion);
    worker_->submit(std::move(job));
}

}  // namespace velvox

#pragma once

// A loopback SMTP server that accepts every message and keeps it, enough of
// the protocol for libcurl's client (EHLO, MAIL, RCPT, DATA, QUIT).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velvox::testing {

struct SinkMessage {
    std::string recipient;  // as given in RCPT TO, without the angle brackets
    std::string data;       // headers and body, as sent
};

class SmtpSink {
  public:
    SmtpSink() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~SmtpSink() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }

    // Answers every recipient with a permanent failure, as a server that
    // refuses to relay does.
    void refuseRecipients(bool refuse) { refusing_ = refuse; }
    std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
    std::vector<SinkMessage> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    void run() {
        for (;;) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            converse(client);
            ::close(client);
        }
    }

    static void say(int client, const std::string& line) {
        std::string text = line + "\r\n";
        (void)::send(client, text.data(), text.size(), MSG_NOSIGNAL);
    }

    void converse(int client) {
        say(client, "220 sink");
        std::string buffer, recipient;
        bool inData = false;
        char chunk[4096];
        for (;;) {
            ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
            if (got <= 0) return;
            buffer.append(chunk, static_cast<size_t>(got));
            for (;;) {
                if (inData) {
                    auto end = buffer.find("\r\n.\r\n");
                    if (end == std::string::npos) break;
                    {
                        std::lock_guard lock(mutex_);
                        messages_.push_back({recipient, buffer.substr(0, end + 2)});
                    }
                    buffer.erase(0, end + 5);
                    inData = false;
                    say(client, "250 kept");
                    continue;
                }
                auto end = buffer.find("\r\n");
                if (end == std::string::npos) break;
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                if (line.starts_with("RCPT TO:<")) recipient = line.substr(9, line.find('>') - 9);
                if (line.starts_with("RCPT") && refusing_) {
                    say(client, "550 no such mailbox");
                } else if (line.starts_with("DATA")) {
                    inData = true;
                    say(client, "354 go on");
                } else if (line.starts_with("QUIT")) {
                    say(client, "221 bye");
                    return;
                } else {
                    say(client, "250 ok");
                }
            }
        }
    }

    std::atomic<bool> refusing_{false};
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<SinkMessage> messages_;
};

}  // namespace velvox::testing

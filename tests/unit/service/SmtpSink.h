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
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}};
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (int client; (client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
                converse(client), ::close(client);
        });
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
    void converse(int client) {
        auto say = [client](std::string line) {
            line += "\r\n";
            (void)::send(client, line.data(), line.size(), MSG_NOSIGNAL);
        };
        say("220 sink");
        std::string buffer, recipient;
        bool inData = false;
        char chunk[4096];
        for (ssize_t got; (got = ::recv(client, chunk, sizeof chunk, 0)) > 0;) {
            buffer.append(chunk, static_cast<size_t>(got));
            // A message ends with a line holding only a dot; commands end with their line.
            for (size_t end; (end = buffer.find(inData ? "\r\n.\r\n" : "\r\n")) != buffer.npos;) {
                std::string line = buffer.substr(0, inData ? end + 2 : end);
                buffer.erase(0, end + (inData ? 5 : 2));
                if (inData) {
                    std::lock_guard lock(mutex_);
                    messages_.push_back({recipient, line});
                }
                if (line.starts_with("RCPT TO:<")) recipient = line.substr(9, line.find('>') - 9);
                if (std::exchange(inData, false)) {
                    say("250 kept");
                } else if (line.starts_with("RCPT") && refusing_) {
                    say("550 no such mailbox");
                } else if (line.starts_with("DATA")) {
                    inData = true, say("354 go on");
                } else if (line.starts_with("QUIT")) {
                    return say("221 bye");
                } else {
                    say("250 ok");
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

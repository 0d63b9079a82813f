#pragma once

// A loopback SMTP server that accepts every message and keeps it, enough of
// the protocol for libcurl's client (EHLO, MAIL, RCPT, DATA, QUIT).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
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
                converse(client);
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
    // The client waits for each answer, so the conversation goes a line at a time.
    void converse(int client) {
        FILE* io = ::fdopen(client, "r+");
        auto say = [io](const char* line) {
            std::fprintf(io, "%s\r\n", line);
            std::fflush(io);
        };
        say("220 sink");
        std::string recipient, data;
        bool inData = false;
        for (char buffer[4096]; std::fgets(buffer, sizeof buffer, io);) {
            std::string line = buffer;
            if (inData && line != ".\r\n") {
                data += line;
            } else if (inData) {
                std::lock_guard lock(mutex_);
                messages_.push_back({recipient, std::exchange(data, "")});
                inData = false;
                say("250 kept");
            } else if (line.starts_with("RCPT")) {
                recipient = line.substr(9, line.find('>') - 9);
                say(refusing_ ? "550 no such mailbox" : "250 ok");
            } else if (line.starts_with("DATA")) {
                inData = true;
                say("354 go on");
            } else if (line.starts_with("QUIT")) {
                say("221 bye");
                break;
            } else {
                say("250 ok");
            }
        }
        std::fclose(io);
    }

    std::atomic<bool> refusing_{false};
    int listener_ = -1, port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<SinkMessage> messages_;
};

}  // namespace velvox::testing

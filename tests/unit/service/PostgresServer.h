#pragma once

// A throw-away PostgreSQL server for the store's tests: initdb into a
// temporary folder as an unprivileged user, on a free loopback port, started
// once for the test program and stopped at its end.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace velvox::testing {

class PostgresServer {
  public:
    // The server of this test program, started on first use.
    static PostgresServer& shared() {
        static PostgresServer server;
        return server;
    }
    ~PostgresServer() {
        if (started_) run(binary("pg_ctl") + " -D " + folder_ + "/data -m immediate -w stop");
        std::filesystem::remove_all(folder_);
    }

    std::string url() const {
        return "postgresql://velvox@127.0.0.1:" + std::to_string(port_) + "/postgres";
    }

  private:
    PostgresServer() {
        char pattern[] = "/tmp/velvox-postgres-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        // initdb refuses to run as root: the data belongs to the postgres user then.
        if (::geteuid() == 0) {
            runAs_ = "runuser -u postgres -- ";
            std::system(("chown postgres " + folder_).c_str());
        }
        port_ = freePort();
        started_ =
            run(binary("initdb") + " -D " + folder_ + "/data -U velvox -A trust --no-sync") &&
            run(binary("pg_ctl") + " -D " + folder_ + "/data -l " + folder_ +
                "/server.log -w -o '-p " + std::to_string(port_) + " -k " + folder_ +
                " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=300' start");
        if (!started_)
            throw std::runtime_error("PostgreSQL did not start (see " + folder_ + "/server.log)");
    }

    static std::string binary(const std::string& name) {
        for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql")) {
            auto path = version.path() / "bin" / name;
            if (std::filesystem::exists(path)) return path.string();
        }
        return name;
    }
    bool run(const std::string& command) const {
        return std::system((runAs_ + command + " >/dev/null 2>&1").c_str()) == 0;
    }
    static int freePort() {
        int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}};
        socklen_t length = sizeof address;
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(probe);
        return ntohs(address.sin_port);
    }

    std::string folder_;
    std::string runAs_;
    int port_ = 0;
    bool started_ = false;
};

}  // namespace velvox::testing

#pragma once

// A throw-away PostgreSQL server for the store's tests: initdb into a
// temporary folder as an unprivileged user, reached through a socket in that
// folder only, started once for the test program and stopped at its end.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace velvox::testing {

class PostgresServer {
  public:
    static PostgresServer& shared() {
        static PostgresServer server;
        return server;
    }
    ~PostgresServer() {
        run(binary("pg_ctl") + " -D " + folder_ + "/data -m immediate -w stop");
        std::filesystem::remove_all(folder_);
    }

    // The socket's folder stands in the host's place, its slashes escaped.
    std::string url() const {
        std::string host;
        for (char c : folder_) host += c == '/' ? std::string("%2F") : std::string(1, c);
        return "postgresql://velvox@" + host + "/postgres";
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
        bool started =
            run(binary("initdb") + " -D " + folder_ + "/data -U velvox -A trust --no-sync") &&
            run(binary("pg_ctl") + " -D " + folder_ + "/data -l " + folder_ +
                "/server.log -w -o '-k " + folder_ +
                " -c listen_addresses= -c fsync=off -c max_connections=300' start");
        if (!started)
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

    std::string folder_, runAs_;
};

}  // namespace velvox::testing

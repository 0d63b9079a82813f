#include <pqxx/pqxx>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <type_traits>
#include <vector>

#include "Store.h"

namespace velvox::service {

namespace {

constexpr int kCurrentVersion = 3;
// Held while migrating, so that instances starting together migrate once.
constexpr int64_t kMigrationLock = 0x76656c766f78;

const char* const kMigrations[] = {
    R"sql(
    CREATE TABLE accounts (id BIGSERIAL PRIMARY KEY, email TEXT NOT NULL UNIQUE,
                           plan TEXT NOT NULL DEFAULT 'free', created_at BIGINT NOT NULL);
    CREATE TABLE tokens (hash TEXT PRIMARY KEY, account_id BIGINT NOT NULL REFERENCES accounts(id),
                         created_at BIGINT NOT NULL, revoked BOOLEAN NOT NULL DEFAULT FALSE);
    CREATE TABLE codes (hash TEXT PRIMARY KEY, email TEXT NOT NULL, client TEXT NOT NULL,
                        created_at BIGINT NOT NULL, expires_at BIGINT NOT NULL,
                        used BOOLEAN NOT NULL DEFAULT FALSE);
    CREATE INDEX codes_by_email ON codes(email, created_at);
    CREATE INDEX codes_by_client ON codes(client, created_at);
    CREATE TABLE usage (account_id BIGINT NOT NULL, week_start BIGINT NOT NULL,
                        words BIGINT NOT NULL, PRIMARY KEY (account_id, week_start));
    CREATE TABLE trials (install TEXT PRIMARY KEY, goes INTEGER NOT NULL);
    )sql",
    R"sql(
    CREATE TABLE polish_credits (owner TEXT PRIMARY KEY, credits INTEGER NOT NULL);
    )sql",
    R"sql(
    ALTER TABLE usage ADD COLUMN seconds BIGINT NOT NULL DEFAULT 0;
    ALTER TABLE polish_credits ADD COLUMN transcript_bytes BIGINT NOT NULL DEFAULT 0;
    CREATE TABLE budgets (day BIGINT NOT NULL, name TEXT NOT NULL, used BIGINT NOT NULL,
                          PRIMARY KEY (day, name));
    )sql",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kCurrentVersion);

// PostgreSQL for several instances behind a load balancer: every operation is
// one transaction on a pooled connection, and nothing else is kept here.
// The advisory lock that makes counting and adding sign-in codes one step.
constexpr int64_t kCodesLock = 0x76656c766f78;  // "velvox"

class PostgresStore final : public Store {
  public:
    PostgresStore(std::string url, int connections)
        : url_(std::move(url)), connections_(std::max(connections, 1)) {
        run([](pqxx::work&) { return 0; });  // fails early when the server is not there
    }

    int migrate() override {
        return run([](pqxx::work& work) {
            work.exec_params("SELECT pg_advisory_xact_lock($1)", kMigrationLock);
            work.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
            int found =
                work.exec("SELECT coalesce(max(version), 0) FROM schema_version")[0][0].as<int>();
            if (found > kCurrentVersion) {
                throw StoreError("the database schema (version " + std::to_string(found) +
                                 ") is newer than this program (version " +
                                 std::to_string(kCurrentVersion) + ")");
            }
            for (int version = found; version < kCurrentVersion; ++version)
                work.exec(kMigrations[version]);
            work.exec("DELETE FROM schema_version");
            work.exec_params("INSERT INTO schema_version (version) VALUES ($1)", kCurrentVersion);
            return found;
        });
    }

    int schemaVersion() override {
        return run([](pqxx::work& work) {
            if (work.exec("SELECT to_regclass('schema_version')")[0][0].is_null()) return 0;
            return work.exec("SELECT coalesce(max(version), 0) FROM schema_version")[0][0]
                .as<int>();
        });
    }

    bool addCodeWithinLimits(const std::string& codeHash, const std::string& email,
                             const std::string& clientAddress, int64_t now, int64_t expiresAt,
                             const CodeLimits& limits) override {
        return run([&](pqxx::work& work) {
            // Counting and adding are one step for every instance: codes are
            // rare, so one lock for all of them, held to the transaction's end.
            work.exec_params("SELECT pg_advisory_xact_lock($1)", kCodesLock);
            auto counted = [&](const char* sql, auto&&... keys) {
                return work.exec_params(sql, keys...)[0][0].template as<int>();
            };
            bool allowed =
                counted("SELECT count(*) FROM codes WHERE email = $1 AND client = $2 AND "
                        "created_at >= $3",
                        email, clientAddress, limits.emailSince) < limits.perEmailAndClient &&
                counted("SELECT count(*) FROM codes WHERE email = $1 AND created_at >= $2", email,
                        limits.emailSince) < limits.perEmail &&
                counted("SELECT count(*) FROM codes WHERE client = $1 AND created_at >= $2",
                        clientAddress, limits.clientSince) < limits.perClient;
            if (allowed) {
                work.exec_params(
                    "INSERT INTO codes (hash, email, client, created_at, expires_at) "
                    "VALUES ($1, $2, $3, $4, $5)",
                    codeHash, email, clientAddress, now, expiresAt);
            }
            return allowed;
        });
    }

    void removeCode(const std::string& codeHash) override {
        run([&](pqxx::work& work) {
            work.exec_params("DELETE FROM codes WHERE hash = $1", codeHash);
            return 0;
        });
    }


    std::optional<std::string> consumeCode(const std::string& codeHash, int64_t now) override {
        return run([&](pqxx::work& work) -> std::optional<std::string> {
            auto rows = work.exec_params(
                "UPDATE codes SET used = TRUE WHERE hash = $1 AND NOT used AND expires_at > $2 "
                "RETURNING email",
                codeHash, now);
            if (rows.empty()) return std::nullopt;
            return rows[0][0].as<std::string>();
        });
    }

    Account accountForEmail(const std::string& email, int64_t now) override {
        return run([&](pqxx::work& work) {
            work.exec_params(
                "INSERT INTO accounts (email, created_at) VALUES ($1, $2) "
                "ON CONFLICT (email) DO NOTHING",
                email, now);
            auto row =
                work.exec_params("SELECT id, email, plan FROM accounts WHERE email = $1", email)[0];
            return Account{row[0].as<int64_t>(), row[1].as<std::string>(),
                           row[2].as<std::string>()};
        });
    }

    void addToken(const std::string& tokenHash, int64_t accountId, int64_t now) override {
        run([&](pqxx::work& work) {
            work.exec_params(
                "INSERT INTO tokens (hash, account_id, created_at) VALUES ($1, $2, $3)", tokenHash,
                accountId, now);
            return 0;
        });
    }

    std::optional<Account> accountForToken(const std::string& tokenHash) override {
        return run([&](pqxx::work& work) -> std::optional<Account> {
            auto rows = work.exec_params(
                "SELECT a.id, a.email, a.plan FROM tokens t JOIN accounts a ON "
                "a.id = t.account_id WHERE t.hash = $1 AND NOT t.revoked",
                tokenHash);
            if (rows.empty()) return std::nullopt;
            return Account{rows[0][0].as<int64_t>(), rows[0][1].as<std::string>(),
                           rows[0][2].as<std::string>()};
        });
    }

    std::vector<AccountSummary> accounts(int64_t weekStart) override {
        return run([&](pqxx::work& work) {
            std::vector<AccountSummary> result;
            for (const auto& row : work.exec_params(
                     "SELECT a.id, a.email, a.plan, (SELECT count(*) FROM tokens t WHERE "
                     "t.account_id = a.id AND NOT t.revoked), coalesce(u.words, 0), "
                     "coalesce(u.seconds, 0) FROM accounts a LEFT JOIN usage u ON "
                     "u.account_id = a.id AND u.week_start = $1 ORDER BY a.email",
                     weekStart)) {
                result.push_back(
                    {{row[0].as<int64_t>(), row[1].as<std::string>(), row[2].as<std::string>()},
                     row[3].as<int>(),
                     row[4].as<int64_t>(),
                     row[5].as<int64_t>()});
            }
            return result;
        });
    }

    bool setPlan(const std::string& email, const std::string& plan) override {
        return run([&](pqxx::work& work) {
            return work.exec_params("UPDATE accounts SET plan = $1 WHERE email = $2", plan, email)
                       .affected_rows() > 0;
        });
    }

    int revokeTokens(const std::string& email) override {
        return run([&](pqxx::work& work) {
            return static_cast<int>(
                work.exec_params("UPDATE tokens SET revoked = TRUE WHERE NOT revoked AND "
                                 "account_id = (SELECT id FROM accounts WHERE email = $1)",
                                 email)
                    .affected_rows());
        });
    }

    int64_t wordsUsed(int64_t accountId, int64_t weekStart) override {
        return run([&](pqxx::work& work) -> int64_t {
            auto rows = work.exec_params(
                "SELECT words FROM usage WHERE account_id = $1 AND week_start = $2", accountId,
                weekStart);
            return rows.empty() ? 0 : rows[0][0].as<int64_t>();
        });
    }

    bool reserveWord(int64_t accountId, int64_t weekStart, int64_t cap) override {
        // One statement: the row lock makes concurrent reservations queue and
        // each sees the words the one before it took.
        return run([&](pqxx::work& work) {
            return !work
                        .exec_params(
                            "INSERT INTO usage (account_id, week_start, words) SELECT $1, $2, 1 "
                            "WHERE $3::BIGINT > 0 ON CONFLICT (account_id, week_start) DO UPDATE SET "
                            "words = usage.words + 1 WHERE usage.words < $3 RETURNING words",
                            accountId, weekStart, cap)
                        .empty();
        });
    }

    int64_t settleWords(int64_t accountId, int64_t weekStart,
                        const Settlement& settled) override {
        return run([&](pqxx::work& work) {
            auto rows = work.exec_params(
                "UPDATE usage SET words = words - 1 + $1, seconds = seconds + $2 "
                "WHERE account_id = $3 AND week_start = $4 RETURNING words",
                settled.words, settled.seconds, accountId, weekStart);
            if (rows.empty()) throw StoreError("usage row vanished");
            if (settled.transcriptBytes > 0)
                grant(work, settled.polishOwner, settled.polishesWaiting, settled.transcriptBytes);
            return rows[0][0].as<int64_t>();
        });
    }

    int trialGoesUsed(const std::string& install) override {
        return run([&](pqxx::work& work) {
            auto rows = work.exec_params("SELECT goes FROM trials WHERE install = $1", install);
            return rows.empty() ? 0 : rows[0][0].as<int>();
        });
    }

    std::optional<int> takeTrialGo(const std::string& install, int limit) override {
        return run([&](pqxx::work& work) -> std::optional<int> {
            auto rows = work.exec_params(
                "INSERT INTO trials (install, goes) SELECT $1, 1 WHERE $2 > 0 "
                "ON CONFLICT (install) DO UPDATE SET goes = trials.goes + 1 "
                "WHERE trials.goes < $2 RETURNING goes",
                install, limit);
            if (rows.empty()) return std::nullopt;
            return rows[0][0].as<int>();
        });
    }

    void returnTrialGo(const std::string& install) override {
        run([&](pqxx::work& work) {
            work.exec_params("UPDATE trials SET goes = goes - 1 WHERE install = $1 AND goes > 0",
                             install);
            return 0;
        });
    }

    bool takeFromBudget(const std::string& name, int64_t day, int64_t limit) override {
        return run([&](pqxx::work& work) {
            // Yesterday's budgets are kept for the operator's eyes, older ones go.
            work.exec_params("DELETE FROM budgets WHERE day < $1", day - 1);
            return !work
                        .exec_params(
                            "INSERT INTO budgets (day, name, used) SELECT $1, $2, 1 WHERE $3::BIGINT > 0 "
                            "ON CONFLICT (day, name) DO UPDATE SET used = budgets.used + 1 "
                            "WHERE budgets.used < $3 RETURNING used",
                            day, name, limit)
                        .empty();
        });
    }

    void returnToBudget(const std::string& name, int64_t day) override {
        run([&](pqxx::work& work) {
            work.exec_params(
                "UPDATE budgets SET used = used - 1 WHERE day = $1 AND name = $2 AND used > 0", day,
                name);
            return 0;
        });
    }

    void grantPolish(const std::string& owner, int limit, int64_t transcriptBytes) override {
        run([&](pqxx::work& work) {
            grant(work, owner, limit, transcriptBytes);
            return 0;
        });
    }

    std::optional<int64_t> takePolish(const std::string& owner) override {
        return run([&](pqxx::work& work) -> std::optional<int64_t> {
            auto rows = work.exec_params(
                "UPDATE polish_credits SET credits = credits - 1 WHERE owner = $1 AND "
                "credits > 0 RETURNING transcript_bytes",
                owner);
            if (rows.empty()) return std::nullopt;
            return rows[0][0].as<int64_t>();
        });
    }

  private:
    static void grant(pqxx::work& work, const std::string& owner, int limit,
                      int64_t transcriptBytes) {
        work.exec_params(
            "INSERT INTO polish_credits (owner, credits, transcript_bytes) VALUES ($1, 1, $3) "
            "ON CONFLICT (owner) DO UPDATE SET credits = LEAST(polish_credits.credits + 1, $2), "
            "transcript_bytes = CASE WHEN polish_credits.credits > 0 THEN "
            "GREATEST(polish_credits.transcript_bytes, $3) ELSE $3 END",
            owner, limit, transcriptBytes);
    }

    // Runs one transaction on a pooled connection; a connection that broke is
    // dropped instead of going back to the pool.
    template <typename Operation>
    std::invoke_result_t<Operation, pqxx::work&> run(Operation operation) {
        std::unique_ptr<pqxx::connection> connection = take();
        // Whatever happens, the connection goes back to the pool or, broken,
        // makes room for a new one.
        auto release = [&] {
            if (connection->is_open())
                give(std::move(connection));
            else
                drop();
        };
        try {
            auto result = [&] {
                pqxx::work work(*connection);
                auto done = operation(work);
                work.commit();
                return done;
            }();
            release();
            return result;
        } catch (const pqxx::broken_connection&) {
            release();
            throw StoreError("PostgreSQL: the connection broke");
        } catch (const pqxx::failure& error) {
            release();
            throw StoreError(std::string("PostgreSQL: ") + error.what());
        } catch (...) {
            release();
            throw;
        }
    }

    // An idle connection, or a new one while fewer than the limit are open;
    // otherwise waits for one to come back. Several instances share the
    // server's max_connections, so each keeps to its own share.
    std::unique_ptr<pqxx::connection> take() {
        {
            std::unique_lock lock(mutex_);
            returned_.wait(lock, [this] { return !idle_.empty() || open_ < connections_; });
            if (!idle_.empty()) {
                auto connection = std::move(idle_.back());
                idle_.pop_back();
                return connection;
            }
            ++open_;
        }
        try {
            return std::make_unique<pqxx::connection>(url_);
        } catch (const pqxx::failure&) {
            drop();
            // The message could quote the URL, which may hold a password.
            throw StoreError("PostgreSQL: cannot connect to the database");
        }
    }

    void give(std::unique_ptr<pqxx::connection> connection) {
        {
            std::lock_guard lock(mutex_);
            idle_.push_back(std::move(connection));
        }
        returned_.notify_one();
    }

    // A connection that broke or never opened leaves room for a new one.
    void drop() {
        {
            std::lock_guard lock(mutex_);
            --open_;
        }
        returned_.notify_one();
    }

    std::string url_;
    const int connections_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<pqxx::connection>> idle_;
    int open_ = 0;
};

}  // namespace

std::unique_ptr<Store> openPostgresStore(const std::string& url, int connections) {
    return std::make_unique<PostgresStore>(url, connections);
}

}  // namespace velvox::service

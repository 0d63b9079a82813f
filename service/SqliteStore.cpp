#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <type_traits>

#include "Store.h"

namespace velvox::service {

namespace {

constexpr int kCurrentVersion = 3;

// Each entry brings the schema from its index to the next version.
const char* const kMigrations[] = {
    R"sql(
    CREATE TABLE accounts (id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE,
                           plan TEXT NOT NULL DEFAULT 'free', created_at INTEGER NOT NULL);
    CREATE TABLE tokens (hash TEXT PRIMARY KEY, account_id INTEGER NOT NULL REFERENCES accounts(id),
                         created_at INTEGER NOT NULL, revoked INTEGER NOT NULL DEFAULT 0);
    CREATE TABLE codes (hash TEXT PRIMARY KEY, email TEXT NOT NULL, client TEXT NOT NULL,
                        created_at INTEGER NOT NULL, expires_at INTEGER NOT NULL,
                        used INTEGER NOT NULL DEFAULT 0);
    CREATE INDEX codes_by_email ON codes(email, created_at);
    CREATE INDEX codes_by_client ON codes(client, created_at);
    CREATE TABLE usage (account_id INTEGER NOT NULL, week_start INTEGER NOT NULL,
                        words INTEGER NOT NULL, PRIMARY KEY (account_id, week_start));
    CREATE TABLE trials (install TEXT PRIMARY KEY, goes INTEGER NOT NULL);
    )sql",
    R"sql(
    CREATE TABLE polish_credits (owner TEXT PRIMARY KEY, credits INTEGER NOT NULL);
    )sql",
    R"sql(
    ALTER TABLE usage ADD COLUMN seconds INTEGER NOT NULL DEFAULT 0;
    ALTER TABLE polish_credits ADD COLUMN transcript_bytes INTEGER NOT NULL DEFAULT 0;
    CREATE TABLE budgets (day INTEGER NOT NULL, name TEXT NOT NULL, used INTEGER NOT NULL,
                          PRIMARY KEY (day, name));
    )sql",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kCurrentVersion);

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail();
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& value) {
        check(sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, int64_t value) {
        check(sqlite3_bind_int64(statement_, index, value));
        return *this;
    }
    // True while a row is available.
    bool step() {
        int code = sqlite3_step(statement_);
        if (code == SQLITE_ROW) return true;
        if (code != SQLITE_DONE) fail();
        return false;
    }
    int64_t integer(int column) { return sqlite3_column_int64(statement_, column); }
    std::string text(int column) {
        auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return value ? std::string(value, sqlite3_column_bytes(statement_, column)) : std::string();
    }

  private:
    void check(int code) {
        if (code != SQLITE_OK) fail();
    }
    [[noreturn]] void fail() { throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_)); }

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

class SqliteStore final : public Store {
  public:
    explicit SqliteStore(const std::string& path) {
        // The file holds e-mail addresses: only its owner reads it. SQLite gives
        // its -wal and -shm files the same mode.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) throw StoreError("cannot open the database file " + path);
        ::close(fd);
        // A file made earlier, or by another program, may be open to everyone.
        for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
            struct stat status {};
            if (::stat(file.c_str(), &status) != 0 || (status.st_mode & 077) == 0) continue;
            if (::chmod(file.c_str(), 0600) != 0)
                throw StoreError("other users can read " + file +
                                 ", and it could not be made private: chmod 600 it");
        }
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreError("cannot open the database " + path + ": " + message);
        }
        sqlite3_busy_timeout(db_, 5000);
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=NORMAL");
        execute("PRAGMA foreign_keys=ON");
    }
    ~SqliteStore() override { sqlite3_close(db_); }

    int migrate() override {
        std::lock_guard lock(mutex_);
        return inTransaction([&] {
            execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
            int found = versionLocked();
            if (found > kCurrentVersion) {
                throw StoreError("the database schema (version " + std::to_string(found) +
                                 ") is newer than this program (version " +
                                 std::to_string(kCurrentVersion) + ")");
            }
            for (int version = found; version < kCurrentVersion; ++version)
                execute(kMigrations[version]);
            execute("DELETE FROM schema_version");
            Statement(db_, "INSERT INTO schema_version (version) VALUES (?)")
                .bind(1, int64_t{kCurrentVersion})
                .step();
            return found;
        });
    }

    int schemaVersion() override {
        std::lock_guard lock(mutex_);
        Statement exists(
            db_, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='schema_version'");
        return exists.step() ? versionLocked() : 0;
    }

    bool addCodeWithinLimits(const std::string& codeHash, const std::string& email,
                             const std::string& clientAddress, int64_t now, int64_t expiresAt,
                             const CodeLimits& limits) override {
        std::lock_guard lock(mutex_);
        // Another process on the same file counts after this one has added.
        return inTransaction([&] {
            auto counted = [&](const char* sql, std::initializer_list<std::string> keys,
                               int64_t since) {
                Statement statement(db_, sql);
                int at = 1;
                for (const auto& key : keys) statement.bind(at++, key);
                statement.bind(at, since);
                return statement.step() ? statement.integer(0) : 0;
            };
            bool allowed =
                counted("SELECT count(*) FROM codes WHERE email = ? AND client = ? AND "
                        "created_at >= ?",
                        {email, clientAddress}, limits.emailSince) < limits.perEmailAndClient &&
                counted("SELECT count(*) FROM codes WHERE email = ? AND created_at >= ?", {email},
                        limits.emailSince) < limits.perEmail &&
                counted("SELECT count(*) FROM codes WHERE client = ? AND created_at >= ?",
                        {clientAddress}, limits.clientSince) < limits.perClient;
            if (allowed) {
                Statement(db_,
                          "INSERT INTO codes (hash, email, client, created_at, expires_at) "
                          "VALUES (?, ?, ?, ?, ?)")
                    .bind(1, codeHash)
                    .bind(2, email)
                    .bind(3, clientAddress)
                    .bind(4, now)
                    .bind(5, expiresAt)
                    .step();
            }
            return allowed;
        });
    }

    void removeCode(const std::string& codeHash) override {
        std::lock_guard lock(mutex_);
        Statement(db_, "DELETE FROM codes WHERE hash = ?").bind(1, codeHash).step();
    }


    std::optional<std::string> consumeCode(const std::string& codeHash, int64_t now) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_,
                            "UPDATE codes SET used = 1 WHERE hash = ? AND used = 0 AND "
                            "expires_at > ? RETURNING email");
        statement.bind(1, codeHash).bind(2, now);
        if (!statement.step()) return std::nullopt;
        std::string email = statement.text(0);
        while (statement.step()) {
        }
        return email;
    }

    Account accountForEmail(const std::string& email, int64_t now) override {
        std::lock_guard lock(mutex_);
        Statement(db_,
                  "INSERT INTO accounts (email, created_at) VALUES (?, ?) "
                  "ON CONFLICT (email) DO NOTHING")
            .bind(1, email)
            .bind(2, now)
            .step();
        Statement statement(db_, "SELECT id, email, plan FROM accounts WHERE email = ?");
        statement.bind(1, email);
        if (!statement.step()) throw StoreError("account vanished while signing in");
        return {statement.integer(0), statement.text(1), statement.text(2)};
    }

    void addToken(const std::string& tokenHash, int64_t accountId, int64_t now) override {
        std::lock_guard lock(mutex_);
        Statement(db_, "INSERT INTO tokens (hash, account_id, created_at) VALUES (?, ?, ?)")
            .bind(1, tokenHash)
            .bind(2, accountId)
            .bind(3, now)
            .step();
    }

    std::optional<Account> accountForToken(const std::string& tokenHash) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_,
                            "SELECT a.id, a.email, a.plan FROM tokens t JOIN accounts a ON "
                            "a.id = t.account_id WHERE t.hash = ? AND t.revoked = 0");
        statement.bind(1, tokenHash);
        if (!statement.step()) return std::nullopt;
        return Account{statement.integer(0), statement.text(1), statement.text(2)};
    }

    std::vector<AccountSummary> accounts(int64_t weekStart) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_,
                            "SELECT a.id, a.email, a.plan, (SELECT count(*) FROM tokens t WHERE "
                            "t.account_id = a.id AND t.revoked = 0), coalesce(u.words, 0), "
                            "coalesce(u.seconds, 0) FROM accounts a LEFT JOIN usage u ON "
                            "u.account_id = a.id AND u.week_start = ? ORDER BY a.email");
        statement.bind(1, weekStart);
        std::vector<AccountSummary> result;
        while (statement.step()) {
            result.push_back({{statement.integer(0), statement.text(1), statement.text(2)},
                              static_cast<int>(statement.integer(3)),
                              statement.integer(4),
                              statement.integer(5)});
        }
        return result;
    }

    bool setPlan(const std::string& email, const std::string& plan) override {
        std::lock_guard lock(mutex_);
        Statement(db_, "UPDATE accounts SET plan = ? WHERE email = ?")
            .bind(1, plan)
            .bind(2, email)
            .step();
        return sqlite3_changes(db_) > 0;
    }

    int revokeTokens(const std::string& email) override {
        std::lock_guard lock(mutex_);
        Statement(db_,
                  "UPDATE tokens SET revoked = 1 WHERE revoked = 0 AND account_id = "
                  "(SELECT id FROM accounts WHERE email = ?)")
            .bind(1, email)
            .step();
        return sqlite3_changes(db_);
    }

    int64_t wordsUsed(int64_t accountId, int64_t weekStart) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_, "SELECT words FROM usage WHERE account_id = ? AND week_start = ?");
        statement.bind(1, accountId).bind(2, weekStart);
        return statement.step() ? statement.integer(0) : 0;
    }

    bool reserveWord(int64_t accountId, int64_t weekStart, int64_t cap) override {
        return addOneBelow("INSERT INTO usage (account_id, week_start, words) SELECT ?, ?, 1 "
                           "WHERE ? > 0 ON CONFLICT (account_id, week_start) DO UPDATE SET "
                           "words = words + 1 WHERE words < ? RETURNING words",
                           accountId, weekStart, cap);
    }

    int64_t settleWords(int64_t accountId, int64_t weekStart,
                        const Settlement& settled) override {
        std::lock_guard lock(mutex_);
        return inTransaction([&] {
            Statement statement(db_,
                                "UPDATE usage SET words = words - 1 + ?, seconds = seconds + ? "
                                "WHERE account_id = ? AND week_start = ? RETURNING words");
            statement.bind(1, settled.words).bind(2, settled.seconds).bind(3, accountId);
            statement.bind(4, weekStart);
            if (!statement.step()) throw StoreError("usage row vanished");
            int64_t total = statement.integer(0);
            finished(statement);
            if (settled.transcriptBytes > 0)
                grantLocked(settled.polishOwner, settled.polishesWaiting, settled.transcriptBytes);
            return total;
        });
    }

    int trialGoesUsed(const std::string& install) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_, "SELECT goes FROM trials WHERE install = ?");
        statement.bind(1, install);
        return statement.step() ? static_cast<int>(statement.integer(0)) : 0;
    }

    std::optional<int> takeTrialGo(const std::string& install, int limit) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_,
                            "INSERT INTO trials (install, goes) SELECT ?, 1 WHERE ? > 0 "
                            "ON CONFLICT (install) DO UPDATE SET goes = goes + 1 "
                            "WHERE goes < ? RETURNING goes");
        statement.bind(1, install).bind(2, int64_t{limit}).bind(3, int64_t{limit});
        if (!statement.step()) return std::nullopt;
        int goes = static_cast<int>(statement.integer(0));
        finished(statement);
        return goes;
    }

    void returnTrialGo(const std::string& install) override {
        std::lock_guard lock(mutex_);
        Statement(db_, "UPDATE trials SET goes = goes - 1 WHERE install = ? AND goes > 0")
            .bind(1, install)
            .step();
    }

    bool takeFromBudget(const std::string& name, int64_t day, int64_t limit) override {
        {
            std::lock_guard lock(mutex_);
            // Yesterday's budgets are kept for the operator's eyes, older ones go.
            Statement(db_, "DELETE FROM budgets WHERE day < ?").bind(1, day - 1).step();
        }
        return addOneBelow("INSERT INTO budgets (day, name, used) SELECT ?, ?, 1 WHERE ? > 0 "
                           "ON CONFLICT (day, name) DO UPDATE SET used = used + 1 "
                           "WHERE used < ? RETURNING used",
                           day, name, limit);
    }

    void returnToBudget(const std::string& name, int64_t day) override {
        std::lock_guard lock(mutex_);
        Statement(db_, "UPDATE budgets SET used = used - 1 WHERE day = ? AND name = ? AND used > 0")
            .bind(1, day)
            .bind(2, name)
            .step();
    }

    void grantPolish(const std::string& owner, int limit, int64_t transcriptBytes) override {
        std::lock_guard lock(mutex_);
        grantLocked(owner, limit, transcriptBytes);
    }

    std::optional<int64_t> takePolish(const std::string& owner) override {
        std::lock_guard lock(mutex_);
        Statement statement(db_,
                            "UPDATE polish_credits SET credits = credits - 1 WHERE owner = ? AND "
                            "credits > 0 RETURNING transcript_bytes");
        statement.bind(1, owner);
        if (!statement.step()) return std::nullopt;
        int64_t bytes = statement.integer(0);
        finished(statement);
        return bytes;
    }

  private:
    // Runs a statement that adds one to a count while it is below a limit
    // (its parameters: two keys, then the limit twice); whether it added one.
    template <typename Key>
    bool addOneBelow(const char* sql, int64_t first, const Key& second, int64_t limit) {
        std::lock_guard lock(mutex_);
        Statement statement(db_, sql);
        statement.bind(1, first).bind(2, second).bind(3, limit).bind(4, limit);
        return finished(statement);
    }

    void grantLocked(const std::string& owner, int limit, int64_t transcriptBytes) {
        Statement(db_,
                  "INSERT INTO polish_credits (owner, credits, transcript_bytes) VALUES (?, 1, ?) "
                  "ON CONFLICT (owner) DO UPDATE SET credits = min(credits + 1, ?), "
                  "transcript_bytes = CASE WHEN credits > 0 THEN max(transcript_bytes, "
                  "excluded.transcript_bytes) ELSE excluded.transcript_bytes END")
            .bind(1, owner)
            .bind(2, transcriptBytes)
            .bind(3, int64_t{limit})
            .step();
    }

    // Runs a statement to its end (RETURNING rows are written as they are
    // stepped); whether it gave a row.
    static bool finished(Statement& statement) {
        bool any = false;
        while (statement.step()) any = true;
        return any;
    }

    void execute(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            throw StoreError("SQLite: " + message);
        }
    }
    int versionLocked() {
        Statement statement(db_, "SELECT max(version) FROM schema_version");
        return statement.step() ? static_cast<int>(statement.integer(0)) : 0;
    }
    // Runs `work` in an immediate transaction: other processes on the file
    // wait until it is committed, or rolled back when `work` throws.
    template <typename Work>
    std::invoke_result_t<Work&> inTransaction(Work work) {
        execute("BEGIN IMMEDIATE");
        try {
            auto result = work();
            execute("COMMIT");
            return result;
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Store> openSqliteStore(const std::string& path) {
    return std::make_unique<SqliteStore>(path);
}

}  // namespace velvox::service

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velvox::service {

// Storage failed (disk full, database gone, schema newer than this program).
// Raised by a store and answered at the HTTP edge as "service not available".
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Account {
    int64_t id = 0;
    std::string email;
    std::string plan;
};

struct AccountSummary {
    Account account;
    int activeTokens = 0;
    // This week's words and the audio seconds the provider billed for them.
    int64_t words = 0;
    int64_t seconds = 0;
};

// Everything the service remembers. Every operation is one statement or one
// transaction, so several processes may share one database: no state lives in
// the process. Secrets arrive here only as hashes.
// How many sign-in codes may be asked for: for one address from one client
// and for one address from anywhere since `emailSince`, and from one client
// since `clientSince`.
struct CodeLimits {
    int perEmailAndClient = 3;
    int perEmail = 10;
    int64_t emailSince = 0;
    int perClient = 20;
    int64_t clientSince = 0;
};

// What a served transcription cost, and the polish it earned.
struct Settlement {
    int64_t words = 0;  // 0 and 0: it failed, and the reservation is given back
    int64_t seconds = 0;
    // The polish: its owner, the transcript's size (0: nothing to polish),
    // and how many may be owed at once.
    std::string polishOwner;
    int64_t transcriptBytes = 0;
    int polishesWaiting = 0;
};

class Store {
  public:
    virtual ~Store() = default;

    // Brings the schema to the current version; returns the version it found.
    virtual int migrate() = 0;
    virtual int schemaVersion() = 0;

    // Sign-in codes. Adds one unless a limit is reached, counted and added as
    // one step against every other caller (every instance on PostgreSQL);
    // false when a limit was reached.
    virtual bool addCodeWithinLimits(const std::string& codeHash, const std::string& email,
                                     const std::string& clientAddress, int64_t now,
                                     int64_t expiresAt, const CodeLimits& limits) = 0;
    // Takes back a code whose mail could not be sent: it never reached anyone,
    // and counts toward no limit.
    virtual void removeCode(const std::string& codeHash) = 0;
    // Marks an unused, unexpired code as used and gives its address; a second
    // caller with the same code gets nothing.
    virtual std::optional<std::string> consumeCode(const std::string& codeHash, int64_t now) = 0;

    // Accounts and device tokens.
    virtual Account accountForEmail(const std::string& email, int64_t now) = 0;
    virtual void addToken(const std::string& tokenHash, int64_t accountId, int64_t now) = 0;
    // The account of a token that is known and not revoked.
    virtual std::optional<Account> accountForToken(const std::string& tokenHash) = 0;
    virtual std::vector<AccountSummary> accounts(int64_t weekStart) = 0;
    virtual bool setPlan(const std::string& email, const std::string& plan) = 0;
    virtual int revokeTokens(const std::string& email) = 0;

    // The weekly allowance, by account and week start: the words the cap
    // counts, and the audio seconds the provider bills beside them.
    virtual int64_t wordsUsed(int64_t accountId, int64_t weekStart) = 0;
    // Reserves one word while fewer than `cap` are used, as one step against
    // every other caller: requests in flight cannot all pass one free word.
    // False when the cap is reached.
    virtual bool reserveWord(int64_t accountId, int64_t weekStart, int64_t cap) = 0;
    // Settles a reservation with what the transcription cost, and grants the
    // polish it earned, as one transaction; the words used after it.
    virtual int64_t settleWords(int64_t accountId, int64_t weekStart,
                                const Settlement& settlement) = 0;

    // Free goes of installs without a token.
    virtual int trialGoesUsed(const std::string& install) = 0;
    // Takes one go when fewer than `limit` are used; the count after taking it.
    virtual std::optional<int> takeTrialGo(const std::string& install, int limit) = 0;
    virtual void returnTrialGo(const std::string& install) = 0;

    // Daily budgets by name: takes one while fewer than `limit` are taken on
    // `day` (days since the epoch); false when none is left.
    virtual bool takeFromBudget(const std::string& name, int64_t day, int64_t limit) = 0;
    virtual void returnToBudget(const std::string& name, int64_t day) = 0;

    // Polishes owed for served transcriptions, by owner (an account or an
    // install); at most `limit` are owed at once. Each may be as large as
    // the largest transcript owed (in bytes).
    virtual void grantPolish(const std::string& owner, int limit, int64_t transcriptBytes) = 0;
    // Takes one owed polish: the size of transcript it may follow, nothing
    // when none is owed.
    virtual std::optional<int64_t> takePolish(const std::string& owner) = 0;
};

// The store named by a URL: sqlite:///path/to/velvox.db or postgresql://...
// Throws StoreError for a URL it cannot open, with a message that names no secret.
// A PostgreSQL store opens at most `connections` connections.
std::unique_ptr<Store> openStore(const std::string& url, int connections = 16);
std::unique_ptr<Store> openSqliteStore(const std::string& path);
std::unique_ptr<Store> openPostgresStore(const std::string& url, int connections);

}  // namespace velvox::service

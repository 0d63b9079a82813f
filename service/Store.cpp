#include "Store.h"

namespace velvox::service {

std::unique_ptr<Store> openStore(const std::string& url, int connections) {
    const std::string sqlite = "sqlite://";
    if (url.starts_with(sqlite) && url.size() > sqlite.size())
        return openSqliteStore(url.substr(sqlite.size()));
    if (url.starts_with("postgresql://") || url.starts_with("postgres://"))
        return openPostgresStore(url, connections);
    throw StoreError(
        "VELVOX_SERVICE_DB must look like sqlite:///path/velvox.db or postgresql://host/database");
}

}  // namespace velvox::service

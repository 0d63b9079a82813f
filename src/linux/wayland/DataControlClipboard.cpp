#include "linux/wayland/DataControlClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace velvox {

namespace {

using Clock = std::chrono::steady_clock;

// A reader that stops reading leaves our write waiting this long at most.
constexpr int kServeTimeoutMs = 5000;

// The other names text goes by, for clients (XWayland's among them) that ask
// by those.
const char* const kTextNames[] = {"text/plain", "UTF8_STRING", "TEXT"};

Clock::time_point deadlineAfter(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6));
}

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// Reads what the owner writes into each pipe until it closes its end or the
// deadline passes; closes every descriptor. An answer still open at the
// deadline is missing.
std::vector<std::optional<Bytes>> readAll(const std::vector<int>& fds, Clock::time_point deadline) {
    std::vector<std::optional<Bytes>> answers(fds.size());
    std::vector<Bytes> partial(fds.size());
    std::vector<bool> open(fds.size());
    for (size_t index = 0; index < fds.size(); ++index) open[index] = fds[index] >= 0;
    while (std::find(open.begin(), open.end(), true) != open.end()) {
        std::vector<pollfd> polled;
        std::vector<size_t> which;
        for (size_t index = 0; index < fds.size(); ++index) {
            if (!open[index]) continue;
            polled.push_back({fds[index], POLLIN, 0});
            which.push_back(index);
        }
        int ready = ::poll(polled.data(), polled.size(), millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        for (size_t at = 0; at < polled.size(); ++at) {
            if (!polled[at].revents) continue;
            size_t index = which[at];
            char buffer[65536];
            ssize_t got = ::read(fds[index], buffer, sizeof buffer);
            if (got > 0) {
                partial[index].append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                open[index] = false;
                if (got == 0) answers[index] = std::move(partial[index]);
            }
        }
    }
    for (int fd : fds) {
        if (fd >= 0) ::close(fd);
    }
    return answers;
}

// Writes the bytes to a reader, away from the main thread: a reader may take
// its time, and the main loop must go on serving.
void serve(int fd, Bytes bytes) {
    std::thread([fd, bytes = std::move(bytes)] {
        size_t written = 0;
        while (written < bytes.size()) {
            pollfd polled = {fd, POLLOUT, 0};
            if (::poll(&polled, 1, kServeTimeoutMs) <= 0) break;
            ssize_t done = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) break;
            written += static_cast<size_t>(done);
        }
        ::close(fd);
    }).detach();
}

}  // namespace

std::shared_ptr<DataControlClipboard> DataControlClipboard::create(
    std::shared_ptr<WaylandConnection> connection, double readTimeoutSeconds) {
    if (!connection || !connection->dataControl() || !connection->seat()) return nullptr;
    auto clipboard =
        std::make_shared<DataControlClipboard>(std::move(connection), readTimeoutSeconds);
    // The current selection arrives as the device's first event.
    clipboard->connection_->roundtrip();
    return clipboard;
}

DataControlClipboard::DataControlClipboard(std::shared_ptr<WaylandConnection> connection,
                                           double readTimeoutSeconds)
    : connection_(std::move(connection)), timeoutSeconds_(readTimeoutSeconds) {
    static const zwlr_data_control_device_v1_listener listener = {dataOffer, selection, finished,
                                                                  primarySelection};
    device_ = zwlr_data_control_manager_v1_get_data_device(connection_->dataControl(),
                                                           connection_->seat());
    zwlr_data_control_device_v1_add_listener(device_, &listener, this);
}

DataControlClipboard::~DataControlClipboard() {
    for (auto& [offer, types] : offers_) zwlr_data_control_offer_v1_destroy(offer);
    for (auto& [source, content] : sources_) zwlr_data_control_source_v1_destroy(source);
    if (device_) zwlr_data_control_device_v1_destroy(device_);
    connection_->flush();
}

void DataControlClipboard::dataOffer(void* data, zwlr_data_control_device_v1*,
                                     zwlr_data_control_offer_v1* offer) {
    static const zwlr_data_control_offer_v1_listener listener = {offered};
    auto* self = static_cast<DataControlClipboard*>(data);
    self->offers_[offer] = {};
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControlClipboard::offered(void* data, zwlr_data_control_offer_v1* offer,
                                   const char* type) {
    auto* self = static_cast<DataControlClipboard*>(data);
    auto& types = self->offers_[offer];
    if (std::find(types.begin(), types.end(), type) == types.end()) types.emplace_back(type);
}

void DataControlClipboard::selection(void* data, zwlr_data_control_device_v1*,
                                     zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlClipboard*>(data);
    if (self->selection_ && self->selection_ != offer) {
        self->offers_.erase(self->selection_);
        zwlr_data_control_offer_v1_destroy(self->selection_);
    }
    self->selection_ = offer;
    // Our own set was counted when it was made.
    if (self->settingOurs_) {
        self->settingOurs_ = false;
        return;
    }
    self->ours_.reset();
    ++self->count_;
}

void DataControlClipboard::primarySelection(void* data, zwlr_data_control_device_v1*,
                                            zwlr_data_control_offer_v1* offer) {
    // The standard protocol reports the primary selection too; only the
    // clipboard is ours to keep.
    auto* self = static_cast<DataControlClipboard*>(data);
    if (!offer || offer == self->selection_) return;
    self->offers_.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void DataControlClipboard::finished(void* data, zwlr_data_control_device_v1* device) {
    // The seat went away: the clipboard is empty from now on.
    auto* self = static_cast<DataControlClipboard*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->device_ = nullptr;
}

void DataControlClipboard::send(void* data, zwlr_data_control_source_v1* source, const char* type,
                                int32_t fd) {
    auto* self = static_cast<DataControlClipboard*>(data);
    auto found = self->sources_.find(source);
    if (found == self->sources_.end()) {
        ::close(fd);
        return;
    }
    for (const auto& [name, bytes] : *found->second) {
        if (name == type) return serve(fd, bytes);
    }
    ::close(fd);
}

void DataControlClipboard::cancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* self = static_cast<DataControlClipboard*>(data);
    self->sources_.erase(source);
    zwlr_data_control_source_v1_destroy(source);
}

int64_t DataControlClipboard::changeCount() {
    connection_->roundtrip();
    return count_;
}

std::vector<std::vector<std::string>> DataControlClipboard::itemTypes() {
    connection_->roundtrip();
    std::vector<std::string> types;
    if (ours_) {
        for (const auto& entry : *ours_) types.push_back(entry.first);
    } else if (selection_) {
        types = offers_[selection_];
    }
    if (types.empty()) return {};
    return {types};
}

int DataControlClipboard::receive(const std::string& type) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    zwlr_data_control_offer_v1_receive(selection_, type.c_str(), fds[1]);
    // The request carries a copy of the descriptor; ours must go, or the
    // reading end never sees the owner close.
    ::close(fds[1]);
    return fds[0];
}

std::optional<Bytes> DataControlClipboard::data(size_t itemIndex, const std::string& type) {
    if (itemIndex != 0) return std::nullopt;
    connection_->roundtrip();
    if (ours_) {
        // Our own content: asking the compositor would wait on ourselves.
        for (const auto& [name, bytes] : *ours_) {
            if (name == type) return bytes;
        }
        return std::nullopt;
    }
    if (!selection_) return std::nullopt;
    // An owner asked for a type it never offered may answer anything (some
    // send their text under any name): such a type reads as nothing.
    const auto& offered = offers_[selection_];
    if (std::find(offered.begin(), offered.end(), type) == offered.end()) return std::nullopt;
    int fd = receive(type);
    connection_->flush();
    return readAll({fd}, deadlineAfter(timeoutSeconds_)).front();
}

void DataControlClipboard::takeSnapshot(double boundSeconds,
                                        std::function<void(PasteboardSnapshot)> done) {
    auto types = itemTypes();
    if (ours_ || types.empty()) return Pasteboard::takeSnapshot(boundSeconds, std::move(done));
    std::vector<int> fds;
    for (const auto& type : types.front()) fds.push_back(receive(type));
    connection_->flush();
    std::thread([fds, types = types.front(), deadline = deadlineAfter(boundSeconds),
                 done = std::move(done)]() mutable {
        auto answers = readAll(fds, deadline);
        PasteboardSnapshot snapshot;
        PasteboardItem item;
        for (size_t index = 0; index < types.size(); ++index) {
            if (answers[index]) {
                item.representations.push_back({types[index], std::move(*answers[index])});
            } else {
                snapshot.complete = false;
            }
        }
        if (!item.representations.empty()) snapshot.items.push_back(std::move(item));
        Platform::mainQueue().async([snapshot = std::move(snapshot), done = std::move(done)] {
            done(std::move(snapshot));
        });
    }).detach();
}

void DataControlClipboard::setItems(const std::vector<PasteboardItem>& items) {
    static const zwlr_data_control_source_v1_listener listener = {send, cancelled};
    changeCount();
    if (!device_) return;
    auto content = std::make_shared<Content>();
    if (!items.empty()) {
        const auto& representations = items.front().representations;
        auto has = [&](const std::string& type) {
            return std::any_of(content->begin(), content->end(),
                               [&](const auto& entry) { return entry.first == type; });
        };
        bool carriesOtherTextNames =
            std::any_of(representations.begin(), representations.end(), [](const auto& entry) {
                return PasteboardType::isText(entry.type) &&
                       entry.type != PasteboardType::plainText;
            });
        for (const auto& representation : representations) {
            if (has(representation.type)) continue;
            content->emplace_back(representation.type, representation.data);
            if (representation.type != PasteboardType::plainText || carriesOtherTextNames) {
                continue;
            }
            for (const char* name : kTextNames) content->emplace_back(name, representation.data);
        }
    }
    zwlr_data_control_source_v1* source = nullptr;
    if (!content->empty()) {
        source = zwlr_data_control_manager_v1_create_data_source(connection_->dataControl());
        zwlr_data_control_source_v1_add_listener(source, &listener, this);
        for (const auto& entry : *content) {
            zwlr_data_control_source_v1_offer(source, entry.first.c_str());
        }
        sources_[source] = content;
    }
    zwlr_data_control_device_v1_set_selection(device_, source);
    // The compositor answers a set with the new selection at once; that one
    // is ours and is counted here.
    settingOurs_ = true;
    connection_->roundtrip();
    settingOurs_ = false;
    ++count_;
    ours_ = content->empty() ? nullptr : std::shared_ptr<const Content>(content);
}

}  // namespace velvox

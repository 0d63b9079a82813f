#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "linux/wayland/WaylandConnection.h"
#include "platform/Pasteboard.h"

struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace velvox {

// The Wayland clipboard through the compositor's clipboard-control protocol,
// which lets a client read and set the clipboard without a focused window of
// its own. As on X11 the data lives in the owning process: what we set is
// served from here (on the GLib main loop) until someone else copies. Every
// read is bounded by a time-out, so a hung owner cannot block for long.
class DataControlClipboard final : public Pasteboard {
  public:
    // Nothing when the compositor offers no clipboard control or no seat.
    static std::shared_ptr<DataControlClipboard> create(
        std::shared_ptr<WaylandConnection> connection, double readTimeoutSeconds = 0.3);
    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    int64_t changeCount() override;
    std::vector<std::vector<std::string>> itemTypes() override;
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override;
    void setItems(const std::vector<PasteboardItem>& items) override;
    // Asks the owner for every type at once and waits for them on a thread
    // of its own, so a slow owner costs the main thread nothing.
    void takeSnapshot(double boundSeconds, std::function<void(PasteboardSnapshot)> done) override;

    DataControlClipboard(std::shared_ptr<WaylandConnection> connection, double readTimeoutSeconds);

  private:
    using Content = std::vector<std::pair<std::string, Bytes>>;

    static void dataOffer(void* self, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*);
    static void selection(void* self, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*);
    static void primarySelection(void* self, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1*);
    static void finished(void* self, zwlr_data_control_device_v1*);
    static void offered(void* self, zwlr_data_control_offer_v1*, const char* type);
    static void send(void* self, zwlr_data_control_source_v1*, const char* type, int32_t fd);
    static void cancelled(void* self, zwlr_data_control_source_v1*);
    // Asks the current owner for TYPE; the answer comes on the returned
    // descriptor (-1 when no pipe could be made).
    int receive(const std::string& type);

    std::shared_ptr<WaylandConnection> connection_;
    double timeoutSeconds_;
    zwlr_data_control_device_v1* device_ = nullptr;
    // The selection's offer and the types of every offer not yet gone.
    zwlr_data_control_offer_v1* selection_ = nullptr;
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers_;
    // What each of our sources still serves; `ours_` is the one the
    // selection holds, while it does.
    std::map<zwlr_data_control_source_v1*, std::shared_ptr<const Content>> sources_;
    std::shared_ptr<const Content> ours_;
    int64_t count_ = 0;
    bool settingOurs_ = false;
};

}  // namespace velvox

#pragma once

#include <optional>
#include <string>

namespace velvox::service {

// Sends one plain-text message through the configured SMTP server (libcurl
// speaks SMTP, with STARTTLS where the server offers it). Blocks until the
// server accepted or refused it. Neither the address nor the text is logged.
class Mailer {
  public:
    Mailer(std::string smtpUrl, std::string from);
    // Nothing when the server took the mail, else why not (never the address).
    std::optional<std::string> send(const std::string& to, const std::string& subject,
                                    const std::string& text) const;

  private:
    std::string smtpUrl_;
    std::string from_;
};

// An address we are willing to write into a mail header: one "@", no space,
// no angle bracket, no line break.
bool plausibleEmail(const std::string& address);

}  // namespace velvox::service

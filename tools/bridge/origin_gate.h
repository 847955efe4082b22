// The origin check made on every message. The first allowed origin binds the connection:
// the objects of one page are never reachable from messages that claim another origin.
#pragma once

#include "allow_list.h"

#include <mutex>
#include <optional>
#include <string>

namespace carvix::bridge {

class OriginGate {
  public:
    explicit OriginGate(AllowList list) : list_(std::move(list)) {}

    /// Nothing when `origin` may be served; else the refusal's message.
    std::optional<std::string> Refusal(const std::string& origin);
    const AllowList& List() const { return list_; }

  private:
    AllowList list_;
    std::mutex lock_;
    std::optional<std::string> bound_;
};

}  // namespace carvix::bridge

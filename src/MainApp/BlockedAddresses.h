// BlockedAddresses: the addresses the blocked hosts resolve to, so that the proxy can refuse a
// numeric address ("http://192.0.2.2/", "CONNECT 192.0.2.2:443") that belongs to a blocked host.
//
// Given the site patterns of the block list, it takes the plain host of each (see `plainHost`)
// and looks them up, paced: never more than `lookupsPerSecond` lookups begin in any second
// (spread over it, not in one burst) and never more than `maxInFlight` are under way, so that a
// list of tens of thousands of hosts never floods the resolver. While active it looks each host up
// again every `refreshSeconds`; while inactive it looks nothing up and keeps what it knows (a
// refresh that fell due meanwhile runs when it becomes active again). A host that no longer
// resolves keeps the addresses it had; a host taken off the list is forgotten at once. Loopback and
// unspecified addresses (what hosts files answer for names they block) are never recorded.
//
// Per host it keeps the name (all names in one block of text), its addresses and a few flags,
// in one sorted array: a list of 50,000 hosts costs about 1.5 MB, not one allocation a host.
//
// Ownership: the owner keeps the loop and the resolver alive longer than this object, which
// cancels its lookups when destroyed. Threads: the loop's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/HostResolver.h"
#include "Platform/RunLoop.h"

namespace zelto {

class BlockedAddresses {
 public:
  struct Options {
    int lookupsPerSecond = 100;
    int maxInFlight = 16;
    double refreshSeconds = 600;  // 0: never again
  };

  BlockedAddresses(RunLoop& loop, HostResolver& resolver, Options options);
  BlockedAddresses(RunLoop& loop, HostResolver& resolver)
      : BlockedAddresses(loop, resolver, Options()) {}
  ~BlockedAddresses();
  BlockedAddresses(const BlockedAddresses&) = delete;
  BlockedAddresses& operator=(const BlockedAddresses&) = delete;

  // The blocked site patterns, as the user wrote them. Hosts new to the list are looked up
  // (before any refresh still to run); hosts no longer listed are forgotten now.
  void setPatterns(const std::vector<std::string>& patterns);
  void setActive(bool active);

  // The listed hosts last seen at `address` (numeric: "192.0.2.2", "2001:db8::1", "[::1]"; an
  // IPv4-mapped IPv6 address counts as its IPv4 address), sorted; empty when none.
  std::vector<std::string> hostsAt(std::string_view address) const;
  // Called on the loop, a moment after new addresses were learned (several lookups' worth at
  // once): the proxy then looks at its open connections again.
  void onChange(std::function<void()> callback);

  // How many hosts are listed.
  size_t hostCount() const { return hosts_.size(); }

  // The host a plain pattern names, lower-cased and in ASCII ("bücher.example" becomes
  // "xn--bcher-kva.example"): without "-" first, scheme, user, port and path. Nothing for an
  // allowing pattern ("+..."), an expression ("/.../"), one with "*" other than a leading
  // "*." (which is dropped), a numeric address, or anything that isn't a host name.
  static std::optional<std::string> plainHost(std::string_view pattern);

 private:
  using Address = std::array<uint8_t, 16>;  // IPv4 as IPv4-mapped IPv6
  // Hosts are named by their place in hosts_, which is sorted by name; setPatterns renumbers
  // them, and everything that names one (the queues, the sightings) with them.
  using HostName = uint32_t;
  struct Host {
    uint32_t nameBegin = 0;  // in names_
    uint8_t nameLength = 0;  // a host name has at most 253 characters
    uint8_t addressCount = 0;
    bool queued = false;
    bool looking = false;  // a lookup is under way (its handle is in lookups_)
    std::unique_ptr<Address[]> addresses;
  };
  // One host at one of its addresses. Ordered by address, then host (that is, name): the hosts
  // at an address are a range, already sorted, and one pair goes in or out in logarithmic time
  // however many hosts share the address (thousands may, behind one content network).
  struct Sighting {
    Address address;
    HostName name;
    auto operator<=>(const Sighting&) const = default;
  };
  struct SightingOrder {
    using is_transparent = void;
    bool operator()(const Sighting& a, const Sighting& b) const { return a < b; }
    bool operator()(const Sighting& a, const Address& b) const { return a.address < b; }
    bool operator()(const Address& a, const Sighting& b) const { return a < b.address; }
  };

  std::string_view nameOf(const Host& host) const {
    return std::string_view(names_).substr(host.nameBegin, host.nameLength);
  }
  std::string_view nameOf(HostName name) const { return nameOf(hosts_[name]); }
  // The place of the host named `name`, if it is listed.
  std::optional<HostName> find(std::string_view name) const;
  static std::optional<Address> parseAddress(std::string_view text);
  void enqueueAll();
  void ensureTicking();
  void tick();
  void startLookup(HostName name);
  void onResolved(const std::string& name, const Result<std::vector<SocketAddress>>& result);
  void forgetAddresses(HostName name);
  void announceChange();

  RunLoop& loop_;
  HostResolver& resolver_;
  const Options options_;
  bool active_ = true;
  bool refreshDue_ = false;  // a refresh fell due while inactive
  std::string names_;
  std::vector<Host> hosts_;
  std::set<Sighting, SightingOrder> sightings_;
  // The lookups under way, by host name: a handful (maxInFlight).
  std::unordered_map<std::string, std::unique_ptr<Registration>> lookups_;
  std::deque<HostName> fresh_;    // never looked up yet: first
  std::deque<HostName> refresh_;  // looked up before
  int inFlight_ = 0;
  // Lookups begun in each of the last ticks, the current one at tick_; the ticks in any second
  // all fit in the window, so its sum bounds the lookups of any second.
  static constexpr double kTickSeconds = 0.05;
  static constexpr size_t kWindowTicks = 21;
  std::array<int, kWindowTicks> begun_{};
  size_t tick_ = 0;
  int begunInWindow_ = 0;
  std::function<void()> onChange_;
  std::unique_ptr<Registration> ticker_;
  std::unique_ptr<Registration> refresher_;
  std::unique_ptr<Registration> announcer_;
};

}  // namespace zelto

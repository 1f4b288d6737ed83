#include "MainApp/BlockedAddresses.h"

#include <arpa/inet.h>
#include <unicode/uidna.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <span>

#include "Platform/Text.h"

namespace zelto {

namespace {

// How long after the first new address the change is announced: the answers of a burst of
// lookups are announced together.
constexpr double kAnnounceSeconds = 0.25;
// Addresses kept per host: a name that answers with hundreds (hostile, or a misconfiguration)
// can't make the table grow without bound.
constexpr size_t kMostAddressesPerHost = 32;

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The international name in ASCII ("xn--..."), by UTS #46; nothing when it isn't a valid one.
std::optional<std::string> toAscii(std::string_view name) {
  static UIDNA* const idna = [] {
    UErrorCode error = U_ZERO_ERROR;
    UIDNA* opened = uidna_openUTS46(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI |
                                        UIDNA_CHECK_CONTEXTJ | UIDNA_USE_STD3_RULES,
                                    &error);
    return U_SUCCESS(error) ? opened : nullptr;
  }();
  if (idna == nullptr || name.size() > 1024) return std::nullopt;
  char out[256];
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length = uidna_nameToASCII_UTF8(
      idna, name.data(), static_cast<int32_t>(name.size()), out, sizeof(out), &info, &error);
  if (U_FAILURE(error) || info.errors != 0 || length <= 0 ||
      length >= static_cast<int32_t>(sizeof(out))) {
    return std::nullopt;
  }
  return std::string(out, static_cast<size_t>(length));
}

// Labels of letters, digits, "-" and "_", joined by single dots; at most 253 characters; the
// last label not all digits (that would be a numeric address in one of its odd forms).
bool isHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  size_t labelStart = 0;
  bool lastAllDigits = true;
  for (size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      const size_t length = i - labelStart;
      if (length == 0 || length > 63) return false;
      lastAllDigits = std::all_of(host.begin() + labelStart, host.begin() + i,
                                  [](char c) { return c >= '0' && c <= '9'; });
      labelStart = i + 1;
    } else if (!isAsciiAlnum(host[i]) && host[i] != '-' && host[i] != '_') {
      return false;
    }
  }
  return !lastAllDigits;
}

// Loopback or unspecified: what hosts files and filtering name servers answer for blocked names.
bool isPlaceholder(const std::array<uint8_t, 16>& address) {
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(address.data(), kMapped, sizeof(kMapped)) == 0) {
    return address[12] == 127 ||
           (address[12] == 0 && address[13] == 0 && address[14] == 0 && address[15] == 0);
  }
  const bool zeroPrefix =
      std::all_of(address.begin(), address.end() - 1, [](uint8_t b) { return b == 0; });
  return zeroPrefix && (address[15] == 0 || address[15] == 1);  // :: and ::1
}

}  // namespace

BlockedAddresses::BlockedAddresses(RunLoop& loop, HostResolver& resolver, Options options)
    : loop_(loop), resolver_(resolver), options_(options) {
  if (options_.refreshSeconds > 0) {
    refresher_ = loop_.addTimer(options_.refreshSeconds, options_.refreshSeconds, [this] {
      if (active_) {
        enqueueAll();
        ensureTicking();
      } else {
        refreshDue_ = true;
      }
    });
  }
}

BlockedAddresses::~BlockedAddresses() {
  // Lookups under way are cancelled with their hosts; nothing of them runs afterwards.
  announcer_.reset();
  ticker_.reset();
  refresher_.reset();
  lookups_.clear();
  sightings_.clear();
  hosts_.clear();
}

std::optional<std::string> BlockedAddresses::plainHost(std::string_view pattern) {
  constexpr std::string_view kBlank = " \t\r\n\f\v";
  const size_t first = pattern.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return std::nullopt;
  std::string_view text = pattern.substr(first, pattern.find_last_not_of(kBlank) - first + 1);

  if (text.starts_with('+')) return std::nullopt;  // allows
  if (text.starts_with('-')) text.remove_prefix(1);
  if (text.starts_with('/')) return std::nullopt;  // an expression

  if (const size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    const std::string_view name = text.substr(0, scheme);
    if (!Text::equalsIgnoringAsciiCase(name, "http") &&
        !Text::equalsIgnoringAsciiCase(name, "https")) {
      return std::nullopt;
    }
    text.remove_prefix(scheme + 3);
  }
  text = text.substr(0, text.find_first_of("/?#\\"));
  if (const size_t at = text.rfind('@'); at != std::string_view::npos) text.remove_prefix(at + 1);
  if (text.starts_with('[')) return std::nullopt;  // an IPv6 address
  text = text.substr(0, text.find(':'));
  if (text.starts_with("*.")) text.remove_prefix(2);
  if (text.find('*') != std::string_view::npos) return std::nullopt;
  while (text.ends_with('.')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  std::string host;
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
    host = Text::asciiLowercase(text);
  } else {
    std::optional<std::string> ascii = toAscii(text);
    if (!ascii) return std::nullopt;
    host = std::move(*ascii);
  }
  if (!isHostName(host)) return std::nullopt;
  return host;
}

void BlockedAddresses::setPatterns(const std::vector<std::string>& patterns) {
  std::vector<std::string> listed;
  listed.reserve(patterns.size());
  for (const std::string& pattern : patterns) {
    if (std::optional<std::string> host = plainHost(pattern)) listed.push_back(std::move(*host));
  }
  std::vector<std::string_view> sorted(listed.begin(), listed.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

  // The new table, each host keeping what it had when it was listed before; `renamed` takes
  // an old place to the new one (none for a host no longer listed).
  std::string names;
  size_t length = 0;
  for (std::string_view name : sorted) length += name.size();
  names.reserve(length);
  std::vector<Host> hosts(sorted.size());
  std::vector<std::optional<HostName>> renamed(hosts_.size());
  std::vector<bool> carried(hosts.size());
  HostName old = 0;
  for (HostName i = 0; i < sorted.size(); ++i) {
    Host& host = hosts[i];
    host.nameBegin = static_cast<uint32_t>(names.size());
    host.nameLength = static_cast<uint8_t>(sorted[i].size());
    names.append(sorted[i]);
    while (old < hosts_.size() && nameOf(old) < sorted[i]) ++old;
    if (old < hosts_.size() && nameOf(old) == sorted[i]) {
      Host& before = hosts_[old];
      host.addressCount = before.addressCount;
      host.addresses = std::move(before.addresses);
      host.queued = before.queued;
      host.looking = before.looking;
      renamed[old] = i;
      carried[i] = true;
    }
  }
  // Hosts no longer listed are forgotten, their lookups cancelled.
  for (HostName i = 0; i < hosts_.size(); ++i) {
    if (renamed[i] || !hosts_[i].looking) continue;
    lookups_.erase(std::string(nameOf(i)));
    --inFlight_;
  }
  std::set<Sighting, SightingOrder> sightings;
  for (const Sighting& sighting : sightings_) {
    if (renamed[sighting.name])
      sightings.insert(Sighting{sighting.address, *renamed[sighting.name]});
  }
  auto rename = [&renamed](std::deque<HostName>& queue) {
    std::deque<HostName> kept;
    for (HostName name : queue) {
      if (renamed[name]) kept.push_back(*renamed[name]);
    }
    queue = std::move(kept);
  };
  rename(fresh_);
  rename(refresh_);
  names_ = std::move(names);
  hosts_ = std::move(hosts);
  sightings_ = std::move(sightings);

  // Hosts new to the list are looked up first, in the list's order.
  for (const std::string& name : listed) {
    const HostName place = *find(name);
    if (carried[place] || hosts_[place].queued) continue;
    hosts_[place].queued = true;
    fresh_.push_back(place);
  }
  ensureTicking();
}

std::optional<BlockedAddresses::HostName> BlockedAddresses::find(std::string_view name) const {
  auto it =
      std::lower_bound(hosts_.begin(), hosts_.end(), name,
                       [this](const Host& host, std::string_view n) { return nameOf(host) < n; });
  if (it == hosts_.end() || nameOf(*it) != name) return std::nullopt;
  return static_cast<HostName>(it - hosts_.begin());
}

void BlockedAddresses::setActive(bool active) {
  active_ = active;
  if (!active_) return;  // ticking stops by itself
  if (refreshDue_) {
    refreshDue_ = false;
    enqueueAll();
  }
  ensureTicking();
}

std::vector<std::string> BlockedAddresses::hostsAt(std::string_view address) const {
  std::optional<Address> parsed = parseAddress(address);
  if (!parsed) return {};
  auto [begin, end] = sightings_.equal_range(*parsed);
  std::vector<std::string> names;
  for (auto it = begin; it != end; ++it) names.emplace_back(nameOf(it->name));
  return names;
}

void BlockedAddresses::onChange(std::function<void()> callback) { onChange_ = std::move(callback); }

std::optional<BlockedAddresses::Address> BlockedAddresses::parseAddress(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  char buffer[INET6_ADDRSTRLEN] = {};
  std::memcpy(buffer, text.data(), text.size());
  Address address{};
  in_addr v4;
  if (inet_pton(AF_INET, buffer, &v4) == 1) {
    address[10] = 0xff;
    address[11] = 0xff;
    std::memcpy(address.data() + 12, &v4, 4);
    return address;
  }
  if (inet_pton(AF_INET6, buffer, address.data()) == 1) return address;
  return std::nullopt;
}

void BlockedAddresses::enqueueAll() {
  for (HostName name = 0; name < hosts_.size(); ++name) {
    Host& host = hosts_[name];
    if (host.queued || host.looking) continue;
    host.queued = true;
    refresh_.push_back(name);
  }
}

void BlockedAddresses::ensureTicking() {
  if (ticker_ || !active_ || (fresh_.empty() && refresh_.empty())) return;
  ticker_ = loop_.addTimer(0, kTickSeconds, [this] { tick(); });
}

void BlockedAddresses::tick() {
  tick_ = (tick_ + 1) % kWindowTicks;
  begunInWindow_ -= begun_[tick_];
  begun_[tick_] = 0;
  const int perSecond = std::max(options_.lookupsPerSecond, 1);
  // A second's lookups spread over its ticks rather than all at its start.
  const int perTick = static_cast<int>(std::ceil(perSecond * kTickSeconds));
  const int inFlightBound = std::max(options_.maxInFlight, 1);
  while (active_ && inFlight_ < inFlightBound && begunInWindow_ < perSecond &&
         begun_[tick_] < perTick && (!fresh_.empty() || !refresh_.empty())) {
    std::deque<HostName>& queue = fresh_.empty() ? refresh_ : fresh_;
    HostName name = queue.front();
    queue.pop_front();
    ++begun_[tick_];
    ++begunInWindow_;
    startLookup(name);
  }
  // Kept ticking until the window is empty, so that a restart may begin with a full second's
  // worth of lookups.
  if ((!active_ || (fresh_.empty() && refresh_.empty())) && begunInWindow_ == 0) {
    ticker_.reset();
  }
}

void BlockedAddresses::startLookup(HostName name) {
  Host& host = hosts_[name];
  host.queued = false;
  host.looking = true;
  ++inFlight_;
  // The port is of no interest here. The handle is dropped when the host is: the callback
  // never runs for a host that is gone.
  std::string text(nameOf(host));
  lookups_[text] = resolver_.resolve(
      text, 0,
      [this, text](Result<std::vector<SocketAddress>> result) { onResolved(text, result); });
}

void BlockedAddresses::onResolved(const std::string& text,
                                  const Result<std::vector<SocketAddress>>& result) {
  // Released when this returns: the resolver allows its handles to go inside their callbacks.
  auto lookup = lookups_.find(text);
  const std::optional<HostName> name = find(text);
  if (lookup == lookups_.end() || !name) return;  // never: a host's lookup goes with it
  std::unique_ptr<Registration> done = std::move(lookup->second);
  lookups_.erase(lookup);
  --inFlight_;
  Host& host = hosts_[*name];
  host.looking = false;
  if (!result.ok()) return;  // kept as it was: a failure may well pass

  std::vector<Address> addresses;
  for (const SocketAddress& socketAddress : *result) {
    std::optional<Address> address = parseAddress(socketAddress.ip());
    if (!address || isPlaceholder(*address)) continue;
    if (std::find(addresses.begin(), addresses.end(), *address) != addresses.end()) continue;
    if (addresses.size() == kMostAddressesPerHost) break;
    addresses.push_back(*address);
  }
  const std::span<const Address> known(host.addresses.get(), host.addressCount);
  bool learned = false;
  for (const Address& address : addresses) {
    learned = learned || std::find(known.begin(), known.end(), address) == known.end();
  }
  if (!learned && addresses.size() == known.size()) return;  // the same as before

  forgetAddresses(*name);
  if (!addresses.empty()) {
    host.addresses = std::make_unique<Address[]>(addresses.size());
    std::copy(addresses.begin(), addresses.end(), host.addresses.get());
    host.addressCount = static_cast<uint8_t>(addresses.size());
  }
  for (const Address& address : addresses) sightings_.insert(Sighting{address, *name});
  if (learned) announceChange();
}

void BlockedAddresses::forgetAddresses(HostName name) {
  Host& host = hosts_[name];
  for (uint8_t i = 0; i < host.addressCount; ++i) {
    sightings_.erase(Sighting{host.addresses[i], name});
  }
  host.addresses.reset();
  host.addressCount = 0;
}

void BlockedAddresses::announceChange() {
  if (announcer_) return;
  announcer_ = loop_.addTimer(kAnnounceSeconds, 0, [this] {
    std::unique_ptr<Registration> fired = std::move(announcer_);
    if (onChange_) {
      std::function<void()> callback = onChange_;
      callback();
    }
  });
}

}  // namespace zelto

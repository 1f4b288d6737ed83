#include "Platform/Linux/PortOwner.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

namespace zelto {

namespace {

constexpr std::string_view kListenState = "0A";

// The inodes of the sockets listening at `port` in the socket table at `path` (the format of
// /proc/net/tcp: a heading line, then one socket a line, "local_address" as HEXADDR:HEXPORT,
// "st" the state, "inode" the tenth field).
void addListeningInodes(const char* path, int port, std::set<std::string>& inodes) {
  std::ifstream table(path);
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode)) {
      continue;
    }
    const size_t colon = local.rfind(':');
    if (colon == std::string::npos || state != kListenState || inode == "0") continue;
    int localPort = -1;
    const char* first = local.data() + colon + 1;
    const char* last = local.data() + local.size();
    if (auto [end, error] = std::from_chars(first, last, localPort, 16);
        error != std::errc() || end != last || localPort != port) {
      continue;
    }
    inodes.insert("socket:[" + inode + "]");
  }
}

// Whether process directory `process` (/proc/PID) has a descriptor linked to one of `links`.
bool holdsOneOf(const std::filesystem::path& process, const std::set<std::string>& links) {
  std::error_code error;
  std::filesystem::directory_iterator descriptors(process / "fd", error);
  if (error) return false;  // another user's, or gone
  for (const auto& descriptor : descriptors) {
    std::error_code readError;
    const std::filesystem::path target =
        std::filesystem::read_symlink(descriptor.path(), readError);
    if (!readError && links.contains(target.native())) return true;
  }
  return false;
}

bool isNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string PortOwner::describe(int port) {
  std::set<std::string> links;
  addListeningInodes("/proc/net/tcp", port, links);
  addListeningInodes("/proc/net/tcp6", port, links);
  if (links.empty()) return kUnknown;
  std::error_code error;
  std::filesystem::directory_iterator processes("/proc", error);
  if (error) return kUnknown;
  for (const auto& process : processes) {
    const std::string pid = process.path().filename().native();
    if (!isNumber(pid) || !holdsOneOf(process.path(), links)) continue;
    std::ifstream commFile(process.path() / "comm");
    std::string name;
    std::getline(commFile, name);
    // A program names itself: nothing it chose may break the log line.
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (name.empty()) name = "a program";
    return name + " (pid " + pid + ")";
  }
  return kUnknown;
}

}  // namespace zelto

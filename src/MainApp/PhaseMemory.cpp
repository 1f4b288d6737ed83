#include "MainApp/PhaseMemory.h"

#include "Platform/FileSystem.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {

PhaseMemory::PhaseMemory(FileSystem& fs, std::string runtimeDirectory)
    : fs_(fs), runtimeDirectory_(std::move(runtimeDirectory)) {}

std::string PhaseMemory::file() const {
  return path::appendingComponent(runtimeDirectory_, "zelto.phase");
}

void PhaseMemory::remember(BlockingMonitor::Phase phase) {
  if (runtimeDirectory_.empty()) return;
  Status written =
      fs_.writeFileAtomically(file(), std::string(BlockingMonitor::phaseName(phase)) + "\n", 0600);
  if (!written.ok()) log::warning("Can't remember the blocking phase: {}", written.message());
}

std::optional<BlockingMonitor::Phase> PhaseMemory::recalled() const {
  if (runtimeDirectory_.empty()) return std::nullopt;
  auto text = fs_.readFile(file(), 64);
  if (!text.ok()) return std::nullopt;
  // One line: the phase's name and a line end (which a trim of blanks would keep).
  const std::string_view line = std::string_view(*text).substr(0, text->find_first_of("\r\n"));
  return BlockingMonitor::phaseNamed(Text::trimBlanks(line));
}

}  // namespace zelto

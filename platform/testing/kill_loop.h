// Crash-safety harness: kills a process in the middle of writing a file,
// again and again, and lets the test inspect the file after every kill.
// The moment of each kill is random within a window that adapts to how
// long a save takes on this machine right now, so that about half the
// kills land before the writer's first save completes and half after,
// whatever the load on the machine. Test-only code.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace bcn::testing {

enum class AfterKill {
  kNoSave,  // the file is intact and the killed writer completed no save
  kSaved,   // the file is intact and holds at least one save of the writer
  kBroken,  // the file is damaged: stop and report
};

struct KillReport {
  int kills = 0;
  int roundsThatSaved = 0;
  // Set when a round went wrong; the loop stops at the first such round.
  std::string failure;

  // Each outcome came up in more than a tenth of the kills; otherwise the
  // kills missed the saves and proved nothing.
  bool sawBothOutcomes() const { return roundsThatSaved > kills / 10 && kills - roundsThatSaved > kills / 10; }
};

// Each round starts a child process that runs `writer(readyFd)`: the
// writer loads what it needs, writes one byte to readyFd, then saves again
// and again until it is killed (it must never return; it may _exit on a
// failed save, which fails the round). The parent waits for the byte,
// sleeps a random time within the window, has the child SIGKILLed and
// calls `inspect`. Stops after `maxRounds` rounds or `limit` of wall time.
// `oneSave` seeds the window. The random sequence is fixed by `seed`.
// Children are forked from a copy of the calling process made on entry, so
// `writer` sees the state of that moment.
KillReport killWhileWriting(const std::function<void(int readyFd)>& writer, const std::function<AfterKill()>& inspect,
                            std::chrono::microseconds oneSave, std::chrono::seconds limit, int maxRounds,
                            unsigned seed);

// The entries of `directory` other than `fileName`: temporary files that
// kills stranded between linking them and renaming them over the file.
std::size_t strandedFiles(const std::filesystem::path& directory, std::string_view fileName);

}  // namespace bcn::testing

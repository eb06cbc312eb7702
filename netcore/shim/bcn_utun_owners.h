// Which processes hold tunnel interfaces, read from the process table.
//
// bcn_utun_owners walks every process's open descriptors and reports each
// descriptor that is a tun/tap queue attached to an interface. The routine
// needs no privilege: processes it may not inspect, and processes that exit
// while it runs, are skipped without notice. Buffers are allocated and freed
// within each call; no state survives between calls. Thread-safe.
//
// On Linux a queue is a descriptor whose /proc/<pid>/fd link is
// "/dev/net/tun" and whose /proc/<pid>/fdinfo/<fd> names the interface on
// an "iff:" line. Tunnel names are free-form there (tun0, utun3, wg0,
// tailscale0), so each record carries the name beside the unit.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct bcn_utun_owner_t {
  // Process holding the queue.
  std::int32_t pid;
  // N + 1 when the interface is called utunN, 0 for any other name.
  std::uint32_t unit;
  // The interface name, zero-terminated.
  char name[16];
};

// Fills `out` with at most `capacity` findings and returns how many it
// wrote: processes in the order the process table lists them, each
// process's descriptors in the order it lists them, stopping as soon as
// `capacity` records are written. Nothing is filtered: a process holding
// several queues yields several records, and a queue shared across a fork
// yields one record per holder. Never negative; 0 when `out` is null,
// `capacity` is below 1 or the process table cannot be read.
// REQUIRES: `out` points to at least `capacity` records.
std::int32_t bcn_utun_owners(bcn_utun_owner_t* out, std::int32_t capacity);

// The same over the process table mounted at `proc_root` (a second proc
// mount, or a directory laid out like one).
std::int32_t bcn_utun_owners_at(const char* proc_root, bcn_utun_owner_t* out, std::int32_t capacity);

// Writes the zero-terminated path of process `pid`'s executable to `out`
// and returns true; returns false and leaves `out` untouched when the path
// cannot be read (process gone, kernel thread, not inspectable) or does not
// fit in `size` bytes with its terminator.
bool bcn_get_process_path(std::int32_t pid, char* out, std::size_t size);
bool bcn_get_process_path_at(const char* proc_root, std::int32_t pid, char* out, std::size_t size);

}  // extern "C"

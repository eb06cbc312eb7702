// Where a lone call's CPU goes outside the kernel: the encoding and decoding
// of one statusWithToken:reply: call and reply, each timed in a tight loop,
// beside the property-list library's own encoder and decoder on the same
// messages (what no change of ours can take away).
//
// Not thread-safe; run it while nothing else is measured.
#pragma once

#include <cstdio>

namespace bcn::bench {

// Prints one line per step, in microseconds per message.
void printCodecCosts(std::FILE* out);

}  // namespace bcn::bench

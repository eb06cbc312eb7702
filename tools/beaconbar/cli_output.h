// How every command reports: results on standard output (text or JSON),
// failures as one line "beaconbar: <what went wrong>" on standard error
// with a non-zero exit status. Thread-compatible: called from the main
// thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace bcn::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// 128 + SIGINT, what a shell reports for a command stopped with Ctrl-C.
inline constexpr int kExitInterrupted = 130;

// Writes the error line and returns kExitFailure (or `status`).
int fail(const std::string& message, int status = kExitFailure);
// The same for another program of the family ("beaconbar-adminctl: ...").
int failAs(std::string_view program, const std::string& message, int status = kExitFailure);

// Pretty-printed with a final newline; text that is not UTF-8 (names read
// from the kernel or files) is written with replacement characters rather
// than failing.
void printJson(const nlohmann::ordered_json& json);
// One line, for streams of objects (watch).
void printJsonLine(const nlohmann::ordered_json& json);

// Writes `text` to standard output as is.
void printText(const std::string& text);

}  // namespace bcn::cli

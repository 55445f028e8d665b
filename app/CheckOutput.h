#pragma once
#include "engine/CheckRecord.h"
#include "common/ExitStatus.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the console checker prints besides the report, made from the records
// of its checks: pure functions, no stream and no platform.
namespace tarnwell::output {

// The outcome's name in the JSON lines: match, mismatch, inconclusive,
// impostor, proven, rejected, unresolved, no_server, timeout.
std::string_view OutcomeName(CheckEnd end);

// A proof's result and reason in the JSON lines: proven, failed, unknown;
// name, untrusted, expired, error, refused, timeout, not-tls, aborted,
// incomplete, internal (none when proven).
std::string_view ProofResultName(platform::ProofResult result);
std::optional<std::string_view> ProofReasonName(platform::ProofReason reason);

// The console checker's exit status for one check.
ConsoleStatus StatusOf(CheckEnd end);

// The most severe of `statuses`: the first of `order` (most severe first)
// that occurs among them; the last of `order` when none does.
int MostSevere(std::span<const int> statuses, std::span<const int> order);

// The record as one line of JSON (no line break), valid whatever bytes its
// texts hold: bytes that are not UTF-8 become U+FFFD. The fields are only
// ever added to, never renamed or removed. A domain read from a list has
// its line number there as "line".
std::string JsonLine(const CheckRecord& record, std::optional<std::size_t> line = std::nullopt);

// The states of the monitoring plugin interface and their exit statuses.
enum PluginState { kPluginOk = 0, kPluginWarning = 1, kPluginCritical = 2, kPluginUnknown = 3 };
inline constexpr int kPluginSeverity[] = {kPluginCritical, kPluginWarning, kPluginUnknown, kPluginOk};

PluginState PluginStateOf(CheckEnd end);
std::string_view PluginStateName(PluginState state);

// One domain's line of the plugin output, in English: "DOMAIN: what was found".
std::string PluginLine(const CheckRecord& record);

// The plugin output for the records of a run, in order: the status line
// "TARNWELL STATE - summary|time=SECONDSs;;;0" (the run's `elapsed` time),
// then one line per domain. Its state is that of the most severe record.
std::vector<std::string> PluginOutput(const std::vector<CheckRecord>& records, std::chrono::milliseconds elapsed);

// The status line of a plugin run that could not check: UNKNOWN with `message`.
std::string PluginUsageError(std::string_view message);

}  // namespace tarnwell::output

// The log of zuqds: one line per event on stdout, flushed at once so that
// whoever watches the server (a person, a test) sees each line as it happens.
//
// Serving never waits for the log: once startLogging() has run, logLine()
// puts the line in a bounded queue that a thread of its own writes to
// stdout. A stdout that takes nothing (a pipe nobody reads) fills the queue;
// further lines are dropped and counted, and once stdout takes lines again
// their number is logged ("<N> log lines dropped: ...").
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace zuqds {

// Bytes of log lines that may wait for stdout; beyond them lines are dropped.
inline constexpr size_t kLogQueueBytes = 1024 * 1024;

// Starts the log's writer thread. Called once, by main(), before serving;
// until then logLine() writes stdout itself.
void startLogging();

// Writes what is queued and ends the writer thread, waiting at most `limit`
// for stdout to take it. False when stdout did not: the thread is then left
// blocked in its write, and the process must end with std::_Exit (an
// ordinary exit would wait on the stream it holds). Called once, by main().
bool finishLogging(std::chrono::milliseconds limit);

// Logs `line` (a newline is added). Any thread; never blocks on stdout once
// logging has started.
void logLine(std::string_view line);

}  // namespace zuqds

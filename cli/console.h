#pragma once
// The console around a long-running command: whether a stream is a terminal,
// and the first Ctrl-C turned into a stop request.

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace glimmora::cli {

bool IsTerminal(std::FILE* stream);

// Until RestoreStopRequests, the first Ctrl-C (SIGINT or SIGTERM; on Windows
// the console's Ctrl-C or Ctrl-Break) sets *flag to 1 instead of ending
// the program; a second one ends it as usual.
void InstallStopRequests(std::atomic<std::int32_t>* flag);
void RestoreStopRequests();

}  // namespace glimmora::cli

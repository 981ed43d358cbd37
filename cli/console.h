#pragma once
// The console around a long-running command: whether a stream is a terminal,
// and the first Ctrl-C turned into a stop request.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace glimmora::cli {

bool IsTerminal(std::FILE* stream);

// Bytes pass through the stream unchanged (no CR added on Windows).
void SetBinaryMode(std::FILE* stream);

// Puts the file `from` in the place of `to`, which may exist; false when it
// could not.
bool MoveFileOver(const std::string& from, const std::string& to);

// Until RestoreStopRequests, the first Ctrl-C (SIGINT or SIGTERM; on Windows
// the console's Ctrl-C or Ctrl-Break) sets *flag to 1 instead of ending
// the program; a second one ends it as usual.
void InstallStopRequests(std::atomic<std::int32_t>* flag);
void RestoreStopRequests();

}  // namespace glimmora::cli

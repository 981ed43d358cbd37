#pragma once
// The console around a long-running command: whether a stream is a terminal,
// the first Ctrl-C turned into a stop request, writes that ending the program
// must not cut, and how many files the process may hold open.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "batch/output_file.h"

namespace glimmora::cli {

bool IsTerminal(std::FILE* stream);

// Bytes pass through the stream unchanged (no CR added on Windows).
void SetBinaryMode(std::FILE* stream);

// Standard input as a stream of its own, read byte for byte; null when there
// is none. Closing it leaves standard input open.
std::FILE* DuplicateStandardInput();
// Standard output as a result file is written, unbuffered; closing it leaves
// standard output open.
std::unique_ptr<OutputStream> StandardOutputStream();

// Until RestoreStopRequests, the first Ctrl-C (SIGINT, SIGTERM or SIGHUP, the
// terminal closed; on Windows the console's Ctrl-C or Ctrl-Break) sets *flag
// to 1 instead of ending the program; a second one ends it, but not in the
// middle of an UninterruptedWrite. From then on a standard error that no one
// reads any more (SIGPIPE) ends nothing either.
void InstallStopRequests(std::atomic<std::int32_t>* flag);
void RestoreStopRequests();

// Held around a write that must reach the file whole: an end of the program
// asked for meanwhile waits for it. One thread writes at a time.
class UninterruptedWrite {
 public:
  UninterruptedWrite();
  ~UninterruptedWrite();
  UninterruptedWrite(const UninterruptedWrite&) = delete;
  UninterruptedWrite& operator=(const UninterruptedWrite&) = delete;
};

// How many of `jobs` examinations, each holding up to `filesPerJob` files
// open, fit in what the process may open at once, after raising its own limit
// as far as the system lets it. *limit: that limit (0 when there is none).
int JobsWithinFileLimit(int jobs, int filesPerJob, unsigned long long* limit);

}  // namespace glimmora::cli

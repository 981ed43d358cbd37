#pragma once
// The output of an earlier batch, read back: to go on with an interrupted
// run of the same input (resume), and to examine its failed workstations
// again and put what comes back in place of their lines (retry, merge).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/result_format.h"

namespace glimmora {

// The next workstation name of the input, nothing at its end.
using NameSource = std::function<std::optional<std::string>()>;
// A text of the program's code page as the output file holds it.
using TextEncoder = std::function<std::string(std::string_view)>;

// Where an interrupted run's output goes on.
struct ResumePlan {
  bool fits = false;
  // Why the file is not the beginning of this input's output, naming the
  // first line that does not fit.
  std::string refusal;
  // The bytes of the file that stay; what follows them is examined again.
  std::size_t keptBytes = 0;
  // The file holds no complete header: it is written first.
  bool writeHeader = false;
  // The input's workstations, from its first, whose lines are kept.
  std::uint64_t workstationsDone = 0;
};

// Reads `existing`, the output of an earlier run, against the names of the
// input this run reads. It fits when it is the start of the bytes this run
// would write: `start` (a byte-order mark, or nothing) and the layout's
// header, then the lines of the input's workstations in input order, each
// name compared as the layout and `encode` write it. The last workstation's
// lines are kept only when they are single lines (a failure or no-monitor
// line is whole once its line end is there); monitor lines may have been cut
// off after any line, so that workstation is dropped and examined again, as
// is a last record without its line end, and so are blank lines at the end.
// A file whose form a tool changed (see RecordForm) is refused: the lines
// appended would not match it.
ResumePlan PlanResume(const ResultFormat& layout, std::string_view start, const TextEncoder& encode,
                      std::string_view existing, const NameSource& nextName);

// One workstation of an earlier run: its lines and what they say.
struct EarlierWorkstation {
  std::string workstation;
  WorkstationResult result = WorkstationResult::kMonitors;
  std::string_view lines;  // into the text read, or into asWritten
};

struct EarlierOutput {
  bool fits = false;
  std::string refusal;  // names the first line that does not fit
  std::string_view header;
  std::vector<EarlierWorkstation> workstations;
  // What the header and lines view when the text read was in another form.
  std::shared_ptr<const std::string> asWritten;
};

// The whole of an earlier run's output, header in either language, every
// line whole. Consecutive monitor lines of one name count as one workstation.
// A file whose form a tool changed (see RecordForm), or that ends in blank
// lines, is read in the form this batch writes.
EarlierOutput ReadEarlierOutput(const ResultFormat& layout, std::string_view text);

// The workstations worth examining again: those that failed, by their place.
std::vector<std::size_t> FailedWorkstations(const EarlierOutput& earlier);

// What a retry brought back for one workstation.
struct RetriedWorkstation {
  std::string workstation;
  WorkstationResult result = WorkstationResult::kMonitors;
  std::vector<std::string> lines;
};

// The earlier output with the lines of retried workstations replaced where
// the new examination succeeded (monitors or no monitor information);
// `retried` are the places of the workstations examined again. A result is
// matched to its place by name and occurrence: the second result for a name
// goes to the second retried place of that name. A place without a result
// (the retry was stopped first) keeps its earlier lines.
std::string MergeRetried(const EarlierOutput& earlier, const std::vector<std::size_t>& retried,
                         const std::vector<RetriedWorkstation>& results);

}  // namespace glimmora

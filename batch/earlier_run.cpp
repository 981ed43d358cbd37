#include "batch/earlier_run.h"

#include <algorithm>
#include <map>

#include "batch/output_encoding.h"

namespace glimmora {

namespace {

// The line number a byte of the file starts on, counting from 1.
std::size_t LineAt(std::string_view text, std::size_t offset) {
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

std::string LineRefusal(std::string_view text, std::size_t offset, const std::string& why) {
  return "line " + std::to_string(LineAt(text, offset)) + " " + why;
}

// The input's names with one of look-ahead.
class InputNames {
 public:
  explicit InputNames(const NameSource& source) : source_(source) {}
  const std::optional<std::string>& Peek() {
    if (!peeked_) {
      next_ = source_();
      peeked_ = true;
    }
    return next_;
  }
  void Take() { peeked_ = false; }

 private:
  const NameSource& source_;
  std::optional<std::string> next_;
  bool peeked_ = false;
};

// Consecutive lines of one name: the lines of one or more workstations of
// that name that follow each other in the input.
struct Block {
  std::string workstation;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t records = 0;
  bool singleLinesOnly = true;
};

// Whether all that is left is line ends: the blank line an editor or a
// spreadsheet may leave at the end of a file.
bool OnlyLineEnds(std::string_view rest) {
  return !rest.empty() && rest.find_first_not_of("\r\n") == std::string_view::npos;
}

// Why lines appended to a record of that form would not match it, and how
// to give the file this batch's form again.
std::string FormProblem(const ResultFormat& layout, const RecordForm& form) {
  std::string what;
  std::string mend;
  if (form.otherLineEnd) {
    const bool crLf = layout.LineEnd() == "\r\n";
    what = crLf ? "ends in LF alone where this batch writes CR LF"
                : "ends in CR LF where this batch writes LF alone";
    mend = crLf ? "convert its line ends back to CR LF (unix2dos)"
                : "convert its line ends back to LF (dos2unix)";
  }
  if (form.trailingEmptyField) {
    what += std::string(what.empty() ? "" : " and ") +
            "has an empty field after its last column (as a spreadsheet saves the file)";
    mend += std::string(mend.empty() ? "" : " and ") + "remove the last comma of each monitor line";
  }
  return what + ", so lines appended to it would differ: " + mend + ", then resume";
}

// Why a file does not begin with `header`, the layout's header as this run
// writes it after `start`.
std::string HeaderRefusal(const ResultFormat& layout, std::string_view start,
                          std::string_view header, std::string_view existing) {
  const bool marked = existing.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark;
  const std::string_view rest = existing.substr(marked ? kUtf8ByteOrderMark.size() : 0);
  const std::string_view first = rest.substr(0, layout.RecordLength(rest));
  RecordForm form;
  if (marked == !start.empty() && !first.empty() && layout.AsWritten(first, &form) == header &&
      form.Changed())
    return LineRefusal(existing, 0, FormProblem(layout, form));
  std::string refusal = LineRefusal(existing, 0, "is not the header this batch writes");
  if (!start.empty() && !marked) return refusal + " (it has no byte-order mark)";
  if (start.empty() && marked && !header.empty())
    return refusal + " (it begins with a byte-order mark: --encoding utf-8-bom)";
  return refusal + OtherFormatHint(layout, first);
}

// The text with each record in the form this batch writes; nothing when
// every record is in that form already.
std::optional<std::string> InFormWritten(const ResultFormat& layout, std::string_view text) {
  std::optional<std::string> asWritten;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t length = layout.RecordLength(text.substr(pos));
    if (length == 0) break;
    RecordForm form;
    std::string record = layout.AsWritten(text.substr(pos, length), &form);
    if (form.Changed() && !asWritten) asWritten.emplace(text.substr(0, pos));
    if (asWritten) *asWritten += record;
    pos += length;
  }
  if (asWritten) asWritten->append(text.substr(pos));
  return asWritten;
}

}  // namespace

ResumePlan PlanResume(const ResultFormat& layout, std::string_view start, const TextEncoder& encode,
                      std::string_view existing, const NameSource& nextName) {
  ResumePlan plan;
  const std::string header = std::string(start) + encode(layout.Header());
  if (existing.size() < header.size() &&
      std::string_view(header).substr(0, existing.size()) == existing) {
    // Nothing yet, or a header cut off: the run starts over.
    plan.fits = true;
    plan.writeHeader = true;
    return plan;
  }
  if (existing.substr(0, header.size()) != header) {
    plan.refusal = HeaderRefusal(layout, start, header.substr(start.size()), existing);
    return plan;
  }

  InputNames input(nextName);
  // A name as the file holds it: what the output cannot hold as it is (no
  // UTF-8 in a UTF-8 file or in JSON lines) was written replaced.
  const auto written = [&](std::string_view name) { return encode(layout.WrittenName(name)); };
  // Matches a block against the input; false with the refusal filled in.
  // A block followed by another covers every workstation of its name that
  // follows in the input; the last block covers as many as it has lines.
  const auto match = [&](const Block& block, bool last, std::uint64_t* covered) {
    const std::optional<std::string>& expected = input.Peek();
    if (!expected) {
      plan.refusal =
          LineRefusal(existing, block.begin,
                      "names " + block.workstation + ", after the last workstation of INPUT");
      return false;
    }
    if (written(*expected) != block.workstation) {
      plan.refusal = LineRefusal(
          existing, block.begin,
          "names " + block.workstation + " where INPUT's next workstation is " + *expected);
      return false;
    }
    std::uint64_t count = 0;
    const std::uint64_t limit = last ? block.records : UINT64_MAX;
    while (count < limit && input.Peek() && written(*input.Peek()) == block.workstation) {
      input.Take();
      ++count;
    }
    // A workstation has one line or more; a failure or no-monitor line is all
    // of its workstation's lines.
    if (block.records < count) {
      plan.refusal = LineRefusal(existing, block.end,
                                 "follows too few lines for " + block.workstation +
                                     " (INPUT names it " + std::to_string(count) + " times there)");
      return false;
    }
    if (block.singleLinesOnly && block.records > count) {
      plan.refusal =
          LineRefusal(existing, block.begin,
                      "starts more lines for " + block.workstation + " than INPUT names it for");
      return false;
    }
    *covered = count;
    return true;
  };

  std::size_t pos = header.size();
  std::optional<Block> block;
  for (;;) {
    // Blank lines at the end go with what is examined again.
    if (OnlyLineEnds(existing.substr(pos))) break;
    const std::size_t length = layout.RecordLength(existing.substr(pos));
    if (length == 0) break;  // the end, or a last record without its line end
    RecordForm form;
    const std::optional<ResultLine> line =
        layout.Read(layout.AsWritten(existing.substr(pos, length), &form));
    if (!line) {
      plan.refusal = LineRefusal(existing, pos, "is not a line this batch writes");
      if (LineAt(existing, pos) == 1)
        plan.refusal += OtherFormatHint(layout, existing.substr(pos, length));
      return plan;
    }
    if (form.Changed()) {
      plan.refusal = LineRefusal(existing, pos, FormProblem(layout, form));
      return plan;
    }
    if (!block || block->workstation != line->workstation) {
      if (block) {
        std::uint64_t covered = 0;
        if (!match(*block, false, &covered)) return plan;
        plan.workstationsDone += covered;
      }
      block = Block{line->workstation, pos, pos, 0, true};
    }
    block->records += 1;
    block->end = pos + length;
    if (line->result == WorkstationResult::kMonitors) block->singleLinesOnly = false;
    pos += length;
  }

  plan.keptBytes = header.size();
  if (block) {
    std::uint64_t covered = 0;
    if (!match(*block, true, &covered)) return plan;
    if (block->singleLinesOnly) {
      plan.workstationsDone += covered;
      plan.keptBytes = block->end;
    } else {
      plan.keptBytes = block->begin;
    }
  }
  plan.fits = true;
  return plan;
}

EarlierOutput ReadEarlierOutput(const ResultFormat& layout, std::string_view text) {
  EarlierOutput earlier;
  // A file a tool saved in another form is read in the form this batch
  // writes, so that a merge writes one form throughout.
  if (std::optional<std::string> asWritten = InFormWritten(layout, text)) {
    earlier.asWritten = std::make_shared<const std::string>(std::move(*asWritten));
    text = *earlier.asWritten;
  }
  // A layout without a header (JSON lines) starts with its first record.
  const std::size_t headerLength = layout.Header().empty() ? 0 : layout.RecordLength(text);
  if (!layout.IsAnyHeader(text.substr(0, headerLength))) {
    earlier.refusal = LineRefusal(text, 0, "is not the header of a Glimmora result file") +
                      OtherFormatHint(layout, text.substr(0, layout.RecordLength(text)));
    return earlier;
  }
  earlier.header = text.substr(0, headerLength);
  std::size_t pos = headerLength;
  while (pos < text.size()) {
    if (OnlyLineEnds(text.substr(pos))) break;
    const std::size_t length = layout.RecordLength(text.substr(pos));
    if (length == 0) {
      earlier.refusal =
          LineRefusal(text, pos, "is cut off (go on with that run with --resume first)");
      return earlier;
    }
    const std::optional<ResultLine> line = layout.Read(text.substr(pos, length));
    if (!line) {
      earlier.refusal = LineRefusal(text, pos, "is not a line of a Glimmora result file");
      if (pos == 0) earlier.refusal += OtherFormatHint(layout, text.substr(pos, length));
      return earlier;
    }
    const std::string_view bytes = text.substr(pos, length);
    EarlierWorkstation* previous =
        earlier.workstations.empty() ? nullptr : &earlier.workstations.back();
    if (line->result == WorkstationResult::kMonitors && previous != nullptr &&
        previous->result == WorkstationResult::kMonitors &&
        previous->workstation == line->workstation) {
      previous->lines =
          text.substr(previous->lines.data() - text.data(), previous->lines.size() + length);
    } else {
      earlier.workstations.push_back({line->workstation, line->result, bytes});
    }
    pos += length;
  }
  earlier.fits = true;
  return earlier;
}

std::vector<std::size_t> FailedWorkstations(const EarlierOutput& earlier) {
  std::vector<std::size_t> failed;
  for (std::size_t i = 0; i < earlier.workstations.size(); ++i) {
    if (IsFailure(earlier.workstations[i].result)) failed.push_back(i);
  }
  return failed;
}

std::string MergeRetried(const EarlierOutput& earlier, const std::vector<std::size_t>& retried,
                         const std::vector<RetriedWorkstation>& results) {
  // The results of each name in the order they came.
  std::map<std::string_view, std::vector<const RetriedWorkstation*>> byName;
  for (const RetriedWorkstation& result : results) byName[result.workstation].push_back(&result);
  std::map<std::string_view, std::size_t> occurrences;
  std::vector<const RetriedWorkstation*> replacement(earlier.workstations.size(), nullptr);
  for (std::size_t place : retried) {
    const std::string& name = earlier.workstations[place].workstation;
    const std::size_t occurrence = occurrences[name]++;
    const auto found = byName.find(name);
    if (found == byName.end() || occurrence >= found->second.size()) continue;
    const RetriedWorkstation* result = found->second[occurrence];
    if (!IsFailure(result->result) && !result->lines.empty()) replacement[place] = result;
  }
  std::string merged(earlier.header);
  for (std::size_t i = 0; i < earlier.workstations.size(); ++i) {
    if (replacement[i] == nullptr) {
      merged.append(earlier.workstations[i].lines);
      continue;
    }
    for (const std::string& line : replacement[i]->lines) merged += line;
  }
  return merged;
}

}  // namespace glimmora

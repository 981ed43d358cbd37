#include "batch/result_layout.h"

#include <cstdlib>

#include "batch/batch_files.h"
#include "batch/monitor_report.h"
#include "batch/output_encoding.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr std::size_t kMonitorFields = 11;
constexpr std::size_t kExtendedFields = 12;
constexpr long kAccessDenied = 5;

// A text of the table in the program's code page, in one language.
std::string TextIn(int id, Language language) {
  return AnsiFromUtf8(TableText(id, language));
}

bool StartsWithTextOf(std::string_view note, int id, std::string_view* rest) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    const std::string text = TextIn(id, language);
    if (!text.empty() && note.substr(0, text.size()) == text) {
      *rest = note.substr(text.size());
      return true;
    }
  }
  return false;
}

// The batch's own time-out note ends "(60 s))" where the echo's has an address.
bool IsTimeLimit(std::string_view rest) {
  if (rest.size() < 5 || rest.front() != '(' || rest.substr(rest.size() - 4) != " s))")
    return false;
  const std::string_view number = rest.substr(1, rest.size() - 5);
  return !number.empty() && number.find_first_not_of("0123456789.") == std::string_view::npos;
}

long RegistryCode(std::string_view rest) {
  const std::size_t at = rest.find(" Code=");
  if (at == std::string_view::npos) return -1;
  const std::string digits(rest.substr(at + 6, 12));
  return std::strtol(digits.c_str(), nullptr, 10);
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

bool IsFailure(WorkstationResult result) {
  return result != WorkstationResult::kMonitors && result != WorkstationResult::kNoMonitorInfo;
}

WorkstationResult RegistryFailureResult(long code) {
  // The logon failures: bad name or password, account restrictions, logon
  // hours, workstation, expired password, disabled account.
  constexpr long kLogonFailure = 1326;
  constexpr long kAccountDisabled = 1331;
  return code == kAccessDenied || (code >= kLogonFailure && code <= kAccountDisabled)
             ? WorkstationResult::kRegistryDenied
             : WorkstationResult::kRegistryUnreachable;
}

WorkstationResult ClassifyNote(std::string_view workstation, std::string_view note) {
  std::string_view rest;
  if (note.substr(0, workstation.size()) == workstation &&
      StartsWithTextOf(note.substr(workstation.size()), kTextNoMonitorInformation, &rest) &&
      rest.empty())
    return WorkstationResult::kNoMonitorInfo;
  if (StartsWithTextOf(note, kTextHostNotFound, &rest)) return WorkstationResult::kNotFound;
  if (StartsWithTextOf(note, kTextRequestTimedOut, &rest))
    return IsTimeLimit(rest) ? WorkstationResult::kTimedOut : WorkstationResult::kNoReply;
  if (StartsWithTextOf(note, kTextRegistryOpenError, &rest))
    return RegistryFailureResult(RegistryCode(rest));
  // Every other note the batch writes is a registry that could not be opened
  // or read to the end.
  return WorkstationResult::kRegistryUnreachable;
}

std::optional<std::vector<std::string>> SplitCsvRecord(std::string_view record, bool skipFirst) {
  if (record.size() >= 2 && record.substr(record.size() - 2) == "\r\n") record.remove_suffix(2);
  std::vector<std::string> fields(1);
  std::size_t i = 0;
  while (i <= record.size()) {
    const bool skip = skipFirst && fields.size() == 1;
    if (i < record.size() && record[i] == '"') {
      // A quoted field: to the closing quote, "" standing for one.
      for (++i;; ++i) {
        if (i >= record.size()) return std::nullopt;
        if (record[i] != '"') {
          if (!skip) fields.back() += record[i];
        } else if (i + 1 < record.size() && record[i + 1] == '"') {
          if (!skip) fields.back() += '"';
          ++i;
        } else {
          break;
        }
      }
      ++i;
      if (i < record.size() && record[i] != ',') return std::nullopt;
    } else {
      const std::size_t comma = record.find(',', i);
      const std::size_t end = comma == std::string_view::npos ? record.size() : comma;
      if (!skip) fields.back().append(record.substr(i, end - i));
      i = end;
    }
    if (i >= record.size()) break;
    fields.emplace_back();  // record[i] is the comma
    ++i;
  }
  return fields;
}

std::size_t CsvResultLayout::MonitorFields() const {
  return kMonitorFields + (extended_ ? kExtendedFields : 0);
}

std::string CsvResultLayout::Header() const {
  return extended_ ? FormatExtendedHeaderLine() : FormatHeaderLine();
}

bool CsvResultLayout::IsAnyHeader(std::string_view header) const {
  const auto fields = SplitCsvRecord(header);
  if (!fields || fields->size() != MonitorFields() + 1) return false;
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    if (fields->front() == TextIn(kTextColumnWorkstationName, language) &&
        fields->back() == TextIn(kTextColumnNote, language))
      return true;
  }
  return false;
}

std::size_t CsvResultLayout::RecordLength(std::string_view rest) const {
  // A quote opens a quoted field only at the start of a field ("31.5"" in a
  // size is data); line ends inside a quoted field belong to the field.
  bool fieldStart = true;
  bool quoted = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (quoted) {
      if (c != '"') continue;
      if (i + 1 < rest.size() && rest[i + 1] == '"')
        ++i;
      else
        quoted = false;
      continue;
    }
    if (c == '\n') return i + 1;
    if (c == '"' && fieldStart) quoted = true;
    fieldStart = c == ',';
  }
  return 0;
}

std::string CsvResultLayout::AsWritten(std::string_view record, RecordForm* form) const {
  *form = {};
  std::string_view body = record;
  if (EndsWith(body, "\r\n")) {
    body.remove_suffix(2);
  } else if (EndsWith(body, "\n")) {
    body.remove_suffix(1);
    form->otherLineEnd = true;
  } else {
    return std::string(record);
  }
  // A spreadsheet gives each line as many fields as the header has: a
  // monitor line (its monitor id filled in, unlike a note line) gets an
  // empty Note.
  if (!body.empty() && body.back() == ',') {
    const auto fields = SplitCsvRecord(body, true);
    if (fields && fields->size() == MonitorFields() + 1 && !(*fields)[1].empty()) {
      body.remove_suffix(1);
      form->trailingEmptyField = true;
    }
  }
  std::string asWritten(body);
  asWritten += LineEnd();
  return asWritten;
}

std::optional<ResultLine> CsvResultLayout::Read(std::string_view record) const {
  const auto fields = SplitCsvRecord(record);
  if (!fields) return std::nullopt;
  const std::optional<WorkstationResult> result = ResultOf(record, (*fields)[0]);
  if (!result) return std::nullopt;
  return ResultLine{(*fields)[0], *result};
}

std::optional<WorkstationResult> CsvResultLayout::ResultOf(std::string_view record,
                                                           std::string_view workstation) const {
  if (record.size() < 2 || record.substr(record.size() - 2) != "\r\n" || workstation.empty())
    return std::nullopt;
  // The workstation's own field is not copied: a name may be as long as a line of the input.
  const auto fields = SplitCsvRecord(record, true);
  if (!fields) return std::nullopt;
  if (fields->size() == MonitorFields()) return WorkstationResult::kMonitors;
  if (fields->size() != MonitorFields() + 1) return std::nullopt;
  for (std::size_t i = 1; i + 1 < fields->size(); ++i) {
    if (!(*fields)[i].empty()) return std::nullopt;
  }
  return ClassifyNote(workstation, fields->back());
}

std::string JsonLinesResultLayout::AsWritten(std::string_view record, RecordForm* form) const {
  *form = {};
  if (!EndsWith(record, "\r\n")) return std::string(record);
  form->otherLineEnd = true;
  std::string asWritten(record.substr(0, record.size() - 2));
  asWritten += LineEnd();
  return asWritten;
}

std::string OtherLayoutHint(const ResultLayout& layout, std::string_view first) {
  if (first.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
    first.remove_prefix(kUtf8ByteOrderMark.size());
  const CsvResultLayout specified(false);
  const CsvResultLayout extended(true);
  const JsonLinesResultLayout json;
  const struct {
    const ResultLayout& other;
    const char* what;
  } others[] = {{specified, "a CSV result file of the specified columns"},
                {extended, "a CSV result file of the extended columns"},
                {json, "JSON lines"}};
  for (const auto& [other, what] : others) {
    if (other.Options() == layout.Options()) continue;
    RecordForm form;
    const std::string record = other.AsWritten(first, &form);
    const bool begins =
        other.Header().empty() ? other.Read(record).has_value() : other.IsAnyHeader(record);
    if (!begins) continue;
    std::string hint = "; it is " + std::string(what) + ": ";
    if (other.Options().empty()) return hint + "leave out " + std::string(layout.Options());
    hint += "give " + std::string(other.Options());
    if (!layout.Options().empty()) hint += " instead of " + std::string(layout.Options());
    return hint;
  }
  return {};
}

}  // namespace glimmora

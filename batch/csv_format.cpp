#include "batch/csv_format.h"

#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <span>

#include "batch/csv_line.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

// The header's texts in column order; "Monitor Size" (1033) sits between
// "Serial Number" and "MFG Date".
constexpr TextId kHeaderTexts[] = {
    kTextColumnWorkstationName, kTextColumnMonitorId,    kTextColumnClass,
    kTextColumnDescription,     kTextColumnMfg,          kTextColumnHardwareId,
    kTextColumnModel,           kTextColumnSerialNumber, kTextColumnMonitorSize,
    kTextColumnMfgDate,         kTextColumnEdidVersion,  kTextColumnNote,
};

constexpr std::size_t kMonitorFields = 11;
constexpr std::size_t kExtendedFields = 12;

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

// The fields, quoted where they would be misread, joined by commas, with CR LF.
std::string CsvRecord(std::initializer_list<std::string_view> fields) {
  return CsvLineFromViews(std::span<const std::string_view>(fields.begin(), fields.size()));
}

}  // namespace

std::string FormatHeaderLine() {
  std::string texts[std::size(kHeaderTexts)];
  for (std::size_t i = 0; i < std::size(kHeaderTexts); ++i) texts[i] = LoadText(kHeaderTexts[i]);
  return CsvRecord({texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                    texts[8], texts[9], texts[10], texts[11]});
}

std::string FormatMonitorLine(std::string_view workstation, std::string_view monitorId,
                              const MonitorRow& row) {
  return CsvRecord({workstation, monitorId, row[kColumnClass], row[kColumnDescription],
                    row[kColumnMfg], row[kColumnHardwareId], row[kColumnModel],
                    row[kColumnSerialNumber], row[kColumnMonitorSize], row[kColumnMfgDate],
                    row[kColumnEdidVersion]});
}

std::string FormatFailureLine(std::string_view workstation, std::string_view note) {
  return CsvRecord({workstation, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, note});
}

std::string FormatNoMonitorLine(std::string_view workstation) {
  std::string note(workstation);
  note += LoadText(kTextNoMonitorInformation);
  return FormatFailureLine(workstation, note);
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

std::size_t CsvResultFormat::MonitorFields() const {
  return kMonitorFields + (extended_ ? kExtendedFields : 0);
}

std::string CsvResultFormat::Header() const {
  if (!extended_) return FormatHeaderLine();
  std::vector<std::string> fields;
  for (std::size_t i = 0; i + 1 < std::size(kHeaderTexts); ++i)
    fields.push_back(LoadText(kHeaderTexts[i]));
  for (std::string& text : ExtendedHeaderTexts()) fields.push_back(std::move(text));
  fields.push_back(LoadText(kTextColumnNote));
  return CsvLine(fields);
}

std::string CsvResultFormat::MonitorLine(const MonitorRecord& record, ServiceHandling) const {
  const ReportedMonitor& monitor = record.monitor;
  if (!extended_) return FormatMonitorLine(record.workstation, monitor.monitorId, monitor.row);
  std::vector<std::string> fields = {std::string(record.workstation), monitor.monitorId};
  fields.insert(fields.end(), monitor.row.begin(), monitor.row.end());
  for (std::string& cell : ExtendedCells(record)) fields.push_back(std::move(cell));
  return CsvLine(fields);
}

std::string CsvResultFormat::ReasonLine(std::string_view workstation, WorkstationResult,
                                        std::string_view note, ServiceHandling) const {
  if (!extended_) return FormatFailureLine(workstation, note);
  std::vector<std::string> fields(MonitorFields() + 1);
  fields.front() = workstation;
  fields.back() = note;
  return CsvLine(fields);
}

bool CsvResultFormat::IsAnyHeader(std::string_view header) const {
  const auto fields = SplitCsvRecord(header);
  if (!fields || fields->size() != MonitorFields() + 1) return false;
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    if (fields->front() == TextIn(kTextColumnWorkstationName, language) &&
        fields->back() == TextIn(kTextColumnNote, language))
      return true;
  }
  return false;
}

std::size_t CsvResultFormat::RecordLength(std::string_view rest) const {
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

std::string CsvResultFormat::AsWritten(std::string_view record, RecordForm* form) const {
  *form = {};
  std::string_view body = record;
  if (body.ends_with("\r\n")) {
    body.remove_suffix(2);
  } else if (body.ends_with("\n")) {
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

std::optional<ResultLine> CsvResultFormat::Read(std::string_view record) const {
  const auto fields = SplitCsvRecord(record);
  if (!fields) return std::nullopt;
  const std::optional<WorkstationResult> result = ResultOf(record, (*fields)[0]);
  if (!result) return std::nullopt;
  return ResultLine{(*fields)[0], *result};
}

std::optional<WorkstationResult> CsvResultFormat::ResultOf(std::string_view record,
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

}  // namespace glimmora

#include "batch/inventory_read.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/csv_format.h"
#include "batch/json_format.h"
#include "inventory/ansi_conversion.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/edid/monitor_key.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

using ReadJson = nlohmann::json;

// The fields of each CSV layout: a monitor line has them, a note line has one
// more (the Note), and so has the header.
constexpr std::size_t kSpecifiedFields = 11;
// Extended columns as written before Monitor Key was one of them.
constexpr std::size_t kUnkeyedFields = 22;
constexpr std::size_t kKeyedFields = 23;

// Where the extended cells stand in a monitor line.
enum ExtendedField : std::size_t {
  kFieldMaker = 11,
  kFieldManufacturerCode = 12,
  kFieldProductCode = 13,
  kFieldPresent = 14,
  kFieldInventoryModel = 15,
  kFieldInventorySerial = 16,
  kFieldSerialSource = 17,
  kFieldMonitorKey = 22,
};
constexpr std::size_t kFieldMonitorId = 1;
constexpr std::size_t kFieldModel = 6;
constexpr std::size_t kFieldSerialNumber = 7;

std::string Known(std::string_view cell) {
  return IsUnknown(cell) ? std::string() : std::string(cell);
}

Presence PresenceFrom(std::string_view text) {
  if (text == "yes") return Presence::kPresent;
  if (text == "no") return Presence::kGhost;
  return Presence::kUnknown;
}

bool IsHeaderText(std::string_view field, int id) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    if (field == AnsiFromUtf8(TableText(id, language))) return true;
  }
  return false;
}

// One reader a format; Add takes the records after the header.
class RecordReader {
 public:
  virtual ~RecordReader() = default;
  virtual std::size_t RecordLength(std::string_view rest) const = 0;
  // False with *problem for a record of no line this format writes.
  virtual bool Add(std::string_view record, Inventory* inventory, std::string* problem) const = 0;
};

class CsvReader : public RecordReader {
 public:
  explicit CsvReader(std::size_t monitorFields) : fields_(monitorFields) {}

  std::size_t RecordLength(std::string_view rest) const override {
    return layout_.RecordLength(rest);
  }

  bool Add(std::string_view record, Inventory* inventory, std::string* problem) const override {
    const std::optional<std::vector<std::string>> fields = SplitCsvRecord(record);
    if (!fields || (fields->size() != fields_ && fields->size() != fields_ + 1)) {
      *problem = "not a line of this file's columns (" + std::to_string(fields_) +
                 " fields a monitor, " + std::to_string(fields_ + 1) + " a note)";
      return false;
    }
    const std::vector<std::string>& cells = *fields;
    if (cells.size() == fields_ + 1) {
      inventory->AddWorkstation(cells.front(), ClassifyNote(cells.front(), cells.back()));
      return true;
    }
    inventory->AddMonitor(fields_ == kSpecifiedFields ? SpecifiedMonitor(cells)
                                                      : ExtendedMonitor(cells));
    return true;
  }

 private:
  // Only the descriptor's serial is there to key by, and no presence.
  static InventoryMonitor SpecifiedMonitor(const std::vector<std::string>& cells) {
    InventoryMonitor monitor;
    monitor.workstation = cells.front();
    const std::string& id = cells[kFieldMonitorId];
    monitor.maker = id.substr(0, 3);
    monitor.model = Known(cells[kFieldModel]);
    monitor.serial = Known(cells[kFieldSerialNumber]);
    if (id.size() == 7 && !monitor.serial.empty() && !IsPlaceholderSerialText(monitor.serial))
      monitor.key = SerialMonitorKey(id.substr(0, 3), id.substr(3), monitor.serial);
    else
      monitor.key = WorkstationMonitorKey(id, monitor.workstation);
    return monitor;
  }

  InventoryMonitor ExtendedMonitor(const std::vector<std::string>& cells) const {
    InventoryMonitor monitor;
    monitor.workstation = cells.front();
    monitor.maker = Known(cells[kFieldMaker]);
    monitor.model = Known(cells[kFieldInventoryModel]);
    monitor.serial = Known(cells[kFieldInventorySerial]);
    monitor.presence = PresenceFrom(cells[kFieldPresent]);
    if (fields_ == kKeyedFields) {
      monitor.key = cells[kFieldMonitorKey];
    } else if (!monitor.serial.empty() && cells[kFieldSerialSource] != "none") {
      // Written before the key was: the serial form, which is what the key
      // would say; without a serial, no EDID to hash.
      monitor.key =
          SerialMonitorKey(cells[kFieldManufacturerCode], cells[kFieldProductCode], monitor.serial);
    } else {
      monitor.key = WorkstationMonitorKey(cells[kFieldMonitorId], monitor.workstation);
    }
    return monitor;
  }

  std::size_t fields_;
  CsvResultFormat layout_;
};

std::string TextField(const ReadJson& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return {};
  return AnsiFromUtf8(it->get_ref<const std::string&>());
}

class JsonLinesReader : public RecordReader {
 public:
  std::size_t RecordLength(std::string_view rest) const override {
    return layout_.RecordLength(rest);
  }

  bool Add(std::string_view record, Inventory* inventory, std::string* problem) const override {
    const ReadJson object = ReadJson::parse(record.begin(), record.end(), nullptr, false);
    const std::optional<ResultLine> line = layout_.Read(record);
    if (!line || object.is_discarded()) {
      *problem = "not a JSON line of glimmora batch";
      return false;
    }
    if (line->result != WorkstationResult::kMonitors) {
      inventory->AddWorkstation(line->workstation, line->result);
      return true;
    }
    InventoryMonitor monitor;
    monitor.workstation = line->workstation;
    monitor.maker = TextField(object, "maker");
    monitor.model = TextField(object, "inventoryModel");
    monitor.serial = TextField(object, "inventorySerial");
    monitor.presence = PresenceFrom(TextField(object, "present"));
    monitor.key = TextField(object, "monitorKey");
    if (monitor.key.empty()) {
      const std::string code = TextField(object, "manufacturerCode");
      if (!monitor.serial.empty() && !code.empty() && TextField(object, "serialSource") != "none")
        monitor.key = SerialMonitorKey(code, TextField(object, "productCode"), monitor.serial);
      else
        monitor.key = WorkstationMonitorKey(TextField(object, "monitorId"), monitor.workstation);
    }
    inventory->AddMonitor(std::move(monitor));
    return true;
  }

 private:
  JsonLinesResultFormat layout_;
};

// The reader for a file that begins with `first` (its first record).
std::unique_ptr<RecordReader> ReaderFor(std::string_view first, InventoryFileKind* kind,
                                        bool* headerRead) {
  *headerRead = false;
  if (!first.empty() && first.front() == '{') {
    *kind = InventoryFileKind::kJsonLines;
    return std::make_unique<JsonLinesReader>();
  }
  const std::optional<std::vector<std::string>> header = SplitCsvRecord(first);
  if (!header || header->size() < 2 || !IsHeaderText(header->front(), kTextColumnWorkstationName) ||
      !IsHeaderText(header->back(), kTextColumnNote))
    return nullptr;
  *headerRead = true;
  const std::size_t fields = header->size() - 1;
  if (fields == kSpecifiedFields) {
    *kind = InventoryFileKind::kSpecifiedCsv;
  } else if (fields == kUnkeyedFields || fields == kKeyedFields) {
    *kind = InventoryFileKind::kExtendedCsv;
  } else {
    return nullptr;
  }
  return std::make_unique<CsvReader>(fields);
}

std::size_t LineBreaks(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += c == '\n';
  return count;
}

// Feeds records to a reader as the text arrives.
class InventoryParser {
 public:
  InventoryParser(std::string_view name, Inventory* inventory, InventoryFileKind* kind)
      : name_(name), inventory_(inventory), kind_(kind) {}

  // Takes the records complete in `*pending` and leaves the rest there.
  bool Take(std::string* pending, bool atEnd, std::string* error) {
    std::string_view rest = *pending;
    if (!started_) {
      if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) rest.remove_prefix(3);
      if (rest.size() < 2 && !atEnd) return true;
      if (rest.substr(0, 2) == "\xFF\xFE" || rest.substr(0, 2) == "\xFE\xFF") {
        *error = name_ + ": is UTF-16 text; glimmora batch writes UTF-8 or the ANSI code page";
        return false;
      }
    }
    while (!rest.empty()) {
      std::size_t length = reader_ ? reader_->RecordLength(rest) : FirstLength(rest);
      if (length == 0) {
        if (!atEnd) break;
        length = rest.size();  // the last line, its end cut off
      }
      const std::string_view record = rest.substr(0, length);
      if (!TakeRecord(record, error)) return false;
      line_ += LineBreaks(record);
      rest.remove_prefix(length);
    }
    pending->erase(0, pending->size() - rest.size());
    if (atEnd && !reader_) {
      *error = name_ + ": is empty; a result file of glimmora batch has at least its header";
      return false;
    }
    return true;
  }

 private:
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

  // Before the format is known, a record is a line.
  static std::size_t FirstLength(std::string_view rest) {
    const std::size_t end = rest.find('\n');
    return end == std::string_view::npos ? 0 : end + 1;
  }

  bool TakeRecord(std::string_view record, std::string* error) {
    if (!started_) {
      started_ = true;
      bool headerRead = false;
      reader_ = ReaderFor(record, kind_, &headerRead);
      if (!reader_) {
        *error = name_ +
                 ": is no result file of glimmora batch (neither its CSV header, specified or "
                 "extended columns, nor a JSON line)";
        return false;
      }
      if (headerRead) return true;
    }
    if (record.find_first_not_of("\r\n") == std::string_view::npos) return true;
    std::string problem;
    if (reader_->Add(record, inventory_, &problem)) return true;
    *error = name_ + ":" + std::to_string(line_ + 1) + ": " + problem;
    return false;
  }

  std::string name_;
  Inventory* inventory_;
  InventoryFileKind* kind_;
  std::unique_ptr<RecordReader> reader_;
  bool started_ = false;
  std::size_t line_ = 0;
};

}  // namespace

std::string_view InventoryFileKindName(InventoryFileKind kind) {
  switch (kind) {
    case InventoryFileKind::kSpecifiedCsv:
      return "the specified CSV";
    case InventoryFileKind::kExtendedCsv:
      return "the CSV with extended columns";
    case InventoryFileKind::kJsonLines:
      break;
  }
  return "JSON lines";
}

bool ReadInventoryText(std::string_view text, std::string_view name, Inventory* inventory,
                       InventoryFileKind* kind, std::string* error) {
  InventoryParser parser(name, inventory, kind);
  std::string pending(text);
  return parser.Take(&pending, true, error);
}

bool ReadInventoryFile(const std::string& path, Inventory* inventory, InventoryFileKind* kind,
                       std::string* error) {
  const bool standardInput = path == "-";
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned(
      standardInput ? nullptr : file, [](std::FILE* f) { return std::fclose(f); });
  InventoryParser parser(standardInput ? "standard input" : path, inventory, kind);
  std::string pending;
  std::vector<char> chunk(1 << 20);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    if (got == 0 && std::ferror(file)) {
      *error = path + ": " + std::strerror(errno);
      return false;
    }
    pending.append(chunk.data(), got);
    const bool atEnd = got == 0;
    if (!parser.Take(&pending, atEnd, error)) return false;
    if (atEnd) return true;
  }
}

}  // namespace glimmora

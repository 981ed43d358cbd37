#include "batch/batch_files.h"

#include <initializer_list>
#include <vector>

#include "batch/csv_line.h"
#include "common/ansi_text.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr int kCtrlZ = 0x1A;
constexpr std::string_view kNameDelimiters = " ,\t";

// The header's texts in column order; "Monitor Size" (1033) sits between
// "Serial Number" and "MFG Date".
constexpr TextId kHeaderTexts[] = {
    kTextColumnWorkstationName, kTextColumnMonitorId,    kTextColumnClass,
    kTextColumnDescription,     kTextColumnMfg,          kTextColumnHardwareId,
    kTextColumnModel,           kTextColumnSerialNumber, kTextColumnMonitorSize,
    kTextColumnMfgDate,         kTextColumnEdidVersion,  kTextColumnNote,
};

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The fields, quoted where they would be misread, joined by commas, with CR LF.
std::string ResultLine(std::initializer_list<std::string_view> fields) {
  return CsvLineFromViews(std::span<const std::string_view>(fields.begin(), fields.size()));
}

}  // namespace

int InputFile::NextRawByte() {
  const int c = std::getc(file_.get());
  if (c == EOF || c == kCtrlZ) {
    atEnd_ = true;
    readFailed_ = c == EOF && std::ferror(file_.get()) != 0;
    return EOF;
  }
  return c;
}

bool InputFile::ReadByte(char* byte) {
  if (atEnd_) return false;
  int c = NextRawByte();
  if (c == EOF) return false;
  if (c == '\r') {
    // Look ahead one byte: CR LF is one LF; a lone CR stays. A look-ahead that
    // meets the end leaves the end indicator set, as the text stream does.
    const int next = NextRawByte();
    if (next == '\n')
      c = '\n';
    else if (next != EOF)
      std::ungetc(next, file_.get());
  }
  *byte = static_cast<char>(c);
  return true;
}

std::unique_ptr<InputFile> OpenInputFile(const std::string& path) {
  // Binary: the text rules are applied by InputFile itself, the same everywhere.
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  // Some systems open a directory for reading; its first read fails. Finding
  // that out now keeps the output file untouched, as for a missing input.
  const int first = std::getc(file.get());
  if (first == EOF) {
    if (std::ferror(file.get()) != 0) return nullptr;
    std::clearerr(file.get());
  } else {
    std::ungetc(first, file.get());
  }
  return std::make_unique<InputFile>(std::move(file));
}

std::string ReadInputLine(InputFile& input) {
  std::string line;
  char byte = 0;
  while (input.ReadByte(&byte)) {
    if (byte == '\n') break;
    line.push_back(byte);
    if (input.AtEnd()) break;
  }
  return line;
}

std::string ExtractWorkstationName(std::string_view line) {
  std::string name = TrimWhiteSpace(line);
  if (name.empty()) return {};
  // Comments (#, ;, /), quoted names, \\names and non-ASCII starts drop out here.
  if (!IsAsciiLetterOrDigit(name[0])) return {};
  std::size_t pos = 0;
  while (pos < name.size()) {
    const std::size_t length = CharacterLength(std::string_view(name).substr(pos));
    if (length == 1 && kNameDelimiters.find(name[pos]) != std::string_view::npos) {
      name.resize(pos);
      break;
    }
    pos += length;
  }
  return ToUpperAnsi(name);
}

std::string FormatHeaderLine() {
  std::string texts[std::size(kHeaderTexts)];
  for (std::size_t i = 0; i < std::size(kHeaderTexts); ++i) texts[i] = LoadText(kHeaderTexts[i]);
  return ResultLine({texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                     texts[8], texts[9], texts[10], texts[11]});
}

std::string FormatMonitorLine(std::string_view workstation, std::string_view monitorId,
                              const MonitorRow& row) {
  return ResultLine({workstation, monitorId, row[kColumnClass], row[kColumnDescription],
                     row[kColumnMfg], row[kColumnHardwareId], row[kColumnModel],
                     row[kColumnSerialNumber], row[kColumnMonitorSize], row[kColumnMfgDate],
                     row[kColumnEdidVersion]});
}

std::string FormatFailureLine(std::string_view workstation, std::string_view note) {
  return ResultLine({workstation, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, note});
}

std::string FormatNoMonitorLine(std::string_view workstation) {
  std::string note(workstation);
  note += LoadText(kTextNoMonitorInformation);
  return FormatFailureLine(workstation, note);
}

int WriteOutputLine(OutputStream& output, std::string_view line) {
  return output.Write(line) == line.size() ? 0 : -1;
}

int WriteHeaderLine(OutputStream& output) {
  return WriteOutputLine(output, FormatHeaderLine());
}

}  // namespace glimmora

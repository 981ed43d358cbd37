#include "inventory/offline/registry_export.h"

#include <optional>
#include <string_view>
#include <vector>

#include "common/ansi_text.h"
#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderVersion4 = "REGEDIT4";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits, nothing else.
bool ParseHexNumber(std::string_view digits, std::uint32_t* value) {
  if (digits.empty() || digits.size() > 8) return false;
  std::uint32_t result = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return false;
    result = (result << 4) | static_cast<std::uint32_t>(digit);
  }
  *value = result;
  return true;
}

// Lines of the decoded text; CR LF, LF and CR all end a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view* line) {
    if (position_ >= text_.size()) return false;
    const std::size_t stop = text_.find_first_of("\r\n", position_);
    lineEnded_ = stop != std::string_view::npos;
    if (stop == std::string_view::npos) {
      *line = text_.substr(position_);
      position_ = text_.size();
    } else {
      *line = text_.substr(position_, stop - position_);
      const bool crlf = text_[stop] == '\r' && stop + 1 < text_.size() && text_[stop + 1] == '\n';
      position_ = stop + (crlf ? 2 : 1);
    }
    ++lineNumber_;
    return true;
  }
  std::size_t lineNumber() const { return lineNumber_; }
  // Whether the line last given had a line end: the last line of a file that
  // was cut off has none.
  bool lineEnded() const { return lineEnded_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t lineNumber_ = 0;
  bool lineEnded_ = false;
};

class ExportParser {
 public:
  ExportParser(RegistryNode& root, bool unicodeText, bool unicodeData)
      : root_(root), unicodeText_(unicodeText), unicodeData_(unicodeData) {}

  bool Parse(std::string_view text, RegistryExportError* error) {
    LineReader lines(text);
    std::string_view line;
    if (!lines.Next(&line) ||
        (TrimBlanks(line) != kHeaderVersion5 && TrimBlanks(line) != kHeaderVersion4))
      return Fail(1,
                  "not a registry export: the first line is neither \"Windows Registry Editor "
                  "Version 5.00\" nor \"REGEDIT4\"",
                  error);
    while (lines.Next(&line)) {
      line = TrimBlanks(line);
      if (line.empty() || line.front() == ';') continue;
      const std::size_t lineNumber = lines.lineNumber();
      const char* reason = nullptr;
      if (line.front() == '[')
        reason = KeyLine(line);
      else if (line.front() == '"' || line.front() == '@')
        reason = ValueLine(line, lines);
      else
        reason = "a line that is neither a key, a value nor a comment";
      if (reason != nullptr) return Fail(errorLine_ != 0 ? errorLine_ : lineNumber, reason, error);
    }
    root_.Compact();
    return true;
  }

 private:
  static bool Fail(std::size_t line, const char* reason, RegistryExportError* error) {
    error->line = line;
    error->reason = reason;
    return false;
  }

  std::string Name(std::string_view text) const {
    return unicodeText_ ? AnsiFromUtf8(text) : std::string(text);
  }

  // "[HKEY_LOCAL_MACHINE\path]" opens (and makes) a key; "[-...]" deletes one.
  const char* KeyLine(std::string_view line) {
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return "a key line without its closing bracket";
    if (!TrimBlanks(line.substr(close + 1)).empty()) return "text after the closing bracket";
    std::string_view path = line.substr(1, close - 1);
    const bool deletion = !path.empty() && path.front() == '-';
    if (deletion) path.remove_prefix(1);

    std::vector<std::string_view> names;
    std::size_t start = 0;
    while (names.size() <= kMaxExportKeyDepth + 1) {  // the root and 512 levels below it
      const std::size_t end = path.find('\\', start);
      names.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (names.size() > kMaxExportKeyDepth + 1) return "keys nested deeper than 512 levels";
    for (std::string_view name : names) {
      if (name.empty()) return "an empty key name";
      if (name.find('\0') != std::string_view::npos) return "a zero byte in a key name";
      std::size_t characters = 0;
      for (std::size_t pos = 0; pos < name.size(); pos += CharacterLength(name.substr(pos)))
        ++characters;
      if (characters > kMaxExportKeyNameLength) return "a key name longer than 255 characters";
    }

    inKey_ = true;
    current_ = nullptr;  // values after a deletion or another root are passed over
    if (!EqualNoCase(names.front(), "HKEY_LOCAL_MACHINE") && !EqualNoCase(names.front(), "HKLM")) {
      for (std::string_view other : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_USERS",
                                     "HKEY_CURRENT_CONFIG", "HKCR", "HKCU", "HKU", "HKCC"}) {
        if (EqualNoCase(names.front(), other)) return nullptr;
      }
      return "a key outside the known roots";
    }
    if (deletion) {
      if (names.size() == 1) return nullptr;  // the root itself stays
      RegistryNode* parent = &root_;
      for (std::size_t i = 1; i + 1 < names.size() && parent != nullptr; ++i)
        parent = parent->FindSubkey(Name(names[i]));
      if (parent != nullptr) parent->RemoveSubkey(Name(names.back()));
      return nullptr;
    }
    RegistryNode* node = &root_;
    for (std::size_t i = 1; i < names.size(); ++i) node = &node->AddSubkey(Name(names[i]));
    current_ = node;
    return nullptr;
  }

  // A double-quoted text from text[*pos] on, with \\ and \" unescaped; *pos ends
  // after the closing quote. False when the quote is not closed on the line.
  static bool QuotedText(std::string_view text, std::size_t* pos, std::string* out) {
    std::size_t i = *pos + 1;
    while (i < text.size()) {
      const char c = text[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
        out->push_back(text[i + 1]);
        i += 2;
        continue;
      }
      out->push_back(c);
      ++i;
    }
    return false;
  }

  const char* ValueLine(std::string_view line, LineReader& lines) {
    if (!inKey_) return "a value before the first key";
    std::string name;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!QuotedText(line, &pos, &name)) {
      return "a value name without its closing quote";
    }
    if (name.find('\0') != std::string::npos) return "a zero byte in a value name";
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return "no \"=\" after the value name";
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    std::string_view data = line.substr(pos);

    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    if (!data.empty() && data.front() == '"') {
      std::string text;
      std::size_t end = 0;
      if (!QuotedText(data, &end, &text)) return "a string without its closing quote";
      if (!TrimBlanks(data.substr(end)).empty()) return "text after the value";
      if (unicodeText_) text = AnsiFromUtf8(text);
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
      type = kRegSz;
    } else if (data == "-") {
      if (current_ != nullptr) current_->RemoveValue(Name(name));
      return nullptr;
    } else if (StartsWithNoCase(data, "dword:")) {
      std::uint32_t number = 0;
      if (!ParseHexNumber(data.substr(6), &number)) return "a dword that is not 1 to 8 hex digits";
      for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(number >> shift));
      type = kRegDword;
    } else if (StartsWithNoCase(data, "hex")) {
      if (const char* reason = HexData(data.substr(3), lines, &type, &bytes)) return reason;
    } else {
      return "value data that is neither a string, a dword, hex bytes nor \"-\"";
    }
    if (current_ != nullptr) current_->SetValue(Name(name), type, std::move(bytes));
    return nullptr;
  }

  // "hex:" or "hex(type):" has been seen up to "hex"; the bytes may go on over
  // lines that end in a backslash.
  const char* HexData(std::string_view data, LineReader& lines, std::uint32_t* type,
                      std::vector<std::uint8_t>* bytes) {
    *type = kRegBinary;
    if (!data.empty() && data.front() == '(') {
      const std::size_t close = data.find(')');
      if (close == std::string_view::npos || !ParseHexNumber(data.substr(1, close - 1), type))
        return "a value type that is not 1 to 8 hex digits";
      data.remove_prefix(close + 1);
    }
    if (data.empty() || data.front() != ':') return "no \":\" after hex";
    data.remove_prefix(1);

    // Where each continued line begins in the joined text, to name the line of a bad byte.
    std::vector<std::pair<std::size_t, std::size_t>> lineStarts = {{0, lines.lineNumber()}};
    // A file that ends where a line promised more, or in the middle of a
    // continued line, was cut off: the bytes read are not the whole value.
    constexpr const char* kCutOff = "the file ends inside a value continued over lines";
    std::string joined(TrimBlanks(data));
    while (!joined.empty() && joined.back() == '\\') {
      joined.pop_back();
      std::string_view next;
      if (!lines.Next(&next)) {
        errorLine_ = lines.lineNumber();
        return kCutOff;
      }
      lineStarts.emplace_back(joined.size(), lines.lineNumber());
      joined += TrimBlanks(next);
      if (!lines.lineEnded()) {
        errorLine_ = lines.lineNumber();
        return kCutOff;
      }
    }
    auto lineAt = [&lineStarts](std::size_t offset) {
      std::size_t line = lineStarts.front().second;
      for (const auto& [start, number] : lineStarts) {
        if (start > offset) break;
        line = number;
      }
      return line;
    };

    std::string raw;
    if (!TrimBlanks(joined).empty()) {
      std::size_t start = 0;
      while (true) {
        const std::size_t end = joined.find(',', start);
        const bool last = end == std::string::npos;
        const std::string_view token = TrimBlanks(
            std::string_view(joined).substr(start, last ? std::string::npos : end - start));
        if (last && token.empty() && start > 0) break;  // a comma may end the list
        std::uint32_t value = 0;
        if (token.size() > 2 || !ParseHexNumber(token, &value)) {
          errorLine_ = lineAt(start);
          return "a hex byte that is not 1 or 2 hex digits";
        }
        raw.push_back(static_cast<char>(value));
        if (last) break;
        start = end + 1;
      }
    }

    const bool stringType = *type == kRegSz || *type == kRegExpandSz || *type == kRegMultiSz;
    if (stringType && unicodeData_) raw = AnsiFromUtf16(raw);
    bytes->assign(raw.begin(), raw.end());
    return nullptr;
  }

  RegistryNode& root_;
  RegistryNode* current_ = nullptr;
  bool inKey_ = false;
  std::size_t errorLine_ = 0;  // set when the bad line is not the one a value began on
  const bool unicodeText_;     // the file's text is Unicode (names and quoted strings)
  const bool unicodeData_;     // hex string data is UTF-16LE (version 5 files)
};

}  // namespace

bool ParseRegistryExport(std::span<const std::uint8_t> bytes, RegistryNode& root,
                         RegistryExportError* error) {
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string decoded;
  std::string_view text = raw;
  bool unicodeText = false;
  if (raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE') {
    decoded = Utf8FromUtf16(raw.substr(2));
    text = decoded;
    unicodeText = true;
  } else if (raw.size() >= 2 && raw[0] != '\0' && raw[1] == '\0') {
    // UTF-16LE that lost its byte order mark.
    decoded = Utf8FromUtf16(raw);
    text = decoded;
    unicodeText = true;
  } else if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
    unicodeText = true;
  }
  std::string_view header = text.substr(0, text.find_first_of("\r\n"));
  const bool unicodeData = TrimBlanks(header) == kHeaderVersion5;
  return ExportParser(root, unicodeText, unicodeData).Parse(text, error);
}

}  // namespace glimmora

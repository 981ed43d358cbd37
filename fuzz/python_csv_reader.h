#pragma once
// CSV read back the way Python's csv.reader reads it with its default dialect
// (delimiter ',', quote '"', doubled quotes, no escape character, strict off)
// from a file opened with newline='' and decoded as Latin-1, so that every
// byte is one character. The state machine follows the reader's own: the text
// is cut into lines after LF, CR LF or a lone CR, each line's characters are
// fed in followed by an end-of-line event, and a record goes on over lines
// while a quoted field is open. An empty line reads as a record of no fields.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmora::fuzz {

using CsvRecord = std::vector<std::string>;

// The records, or nothing where Python raises csv.Error.
inline std::optional<std::vector<CsvRecord>> ReadCsvLikePython(std::string_view text) {
  enum class State {
    kStartRecord,
    kStartField,
    kInField,
    kInQuotedField,
    kQuoteInQuoted,
    kEatCrNl
  };
  constexpr int kEndOfLine = -1;

  std::vector<CsvRecord> records;
  CsvRecord fields;
  std::string field;
  State state = State::kStartRecord;
  auto saveField = [&] {
    fields.push_back(std::move(field));
    field.clear();
  };
  // False where Python raises.
  auto process = [&](int c) -> bool {
    const bool lineBreak = c == '\n' || c == '\r' || c == kEndOfLine;
    switch (state) {
      case State::kStartRecord:
        if (c == kEndOfLine) return true;
        if (c == '\n' || c == '\r') {
          state = State::kEatCrNl;
          return true;
        }
        state = State::kStartField;
        [[fallthrough]];
      case State::kStartField:
        if (lineBreak) {
          saveField();
          state = c == kEndOfLine ? State::kStartRecord : State::kEatCrNl;
        } else if (c == '"') {
          state = State::kInQuotedField;
        } else if (c == ',') {
          saveField();
        } else {
          field.push_back(static_cast<char>(c));
          state = State::kInField;
        }
        return true;
      case State::kInField:
        if (lineBreak) {
          saveField();
          state = c == kEndOfLine ? State::kStartRecord : State::kEatCrNl;
        } else if (c == ',') {
          saveField();
          state = State::kStartField;
        } else {
          field.push_back(static_cast<char>(c));
        }
        return true;
      case State::kInQuotedField:
        if (c == kEndOfLine) return true;
        if (c == '"')
          state = State::kQuoteInQuoted;
        else
          field.push_back(static_cast<char>(c));
        return true;
      case State::kQuoteInQuoted:
        if (c == '"') {
          field.push_back('"');
          state = State::kInQuotedField;
        } else if (c == ',') {
          saveField();
          state = State::kStartField;
        } else if (lineBreak) {
          saveField();
          state = c == kEndOfLine ? State::kStartRecord : State::kEatCrNl;
        } else {
          field.push_back(static_cast<char>(c));
          state = State::kInField;
        }
        return true;
      case State::kEatCrNl:
        if (c == '\n' || c == '\r') return true;
        if (c == kEndOfLine) {
          state = State::kStartRecord;
          return true;
        }
        return false;  // "new-line character seen in unquoted field"
    }
    return false;
  };

  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    if (end < text.size()) {
      end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    }
    for (std::size_t i = pos; i < end; ++i) {
      if (!process(static_cast<unsigned char>(text[i]))) return std::nullopt;
    }
    if (!process(kEndOfLine)) return std::nullopt;
    pos = end;
    if (state == State::kStartRecord) {
      records.push_back(std::move(fields));
      fields.clear();
    }
  }
  // At the end of the data an open quoted field (or a started one) ends the record.
  if (!field.empty() || state == State::kInQuotedField) {
    saveField();
    records.push_back(std::move(fields));
  }
  return records;
}

}  // namespace glimmora::fuzz

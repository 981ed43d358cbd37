#include "inventory/edid/edid.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>

#include "inventory/edid/edid_base_block.h"

namespace glimmora {

namespace {

bool IsEdidSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimBytes(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsEdidSpace(text[begin])) ++begin;
  while (end > begin && IsEdidSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// The text of one descriptor from its bytes 4 to 17: the reserved byte 4
// turned into a blank when it is zero, cut at the first zero or line feed,
// then trimmed. No descriptor: empty.
std::string RowText(const std::optional<std::string>& bytes) {
  if (!bytes) return {};
  std::string text = *bytes;
  if (!text.empty() && text[0] == '\0') text[0] = ' ';
  const std::size_t end = text.find_first_of(std::string_view("\0\n", 2));
  return TrimBytes(std::string_view(text).substr(0, end));
}

bool LocalTime(std::time_t when, std::tm* out) {
#ifdef _WIN32
  return localtime_s(out, &when) == 0;
#else
  return localtime_r(&when, out) != nullptr;
#endif
}

// Midnight of 1 January in local time, plus (week - 1) weeks counted in
// seconds, read back as local year and month. Seconds, not calendar days: a
// change of the UTC offset in between moves the local result by the difference.
std::string ManufactureDate(int week, int year) {
  std::tm start{};
  start.tm_year = year - 1900;
  start.tm_mon = 0;
  start.tm_mday = 1;
  start.tm_isdst = -1;
  int resultYear = 0;
  int resultMonth = 0;
  {
    // The time-zone state behind mktime is the process's and is read again on
    // each call; a batch decodes on several threads at once.
    static std::mutex timeZoneLock;
    const std::lock_guard<std::mutex> lock(timeZoneLock);
    const std::time_t base = std::mktime(&start);
    if (base != static_cast<std::time_t>(-1)) {
      const std::time_t when = base + static_cast<std::time_t>(week - 1) * 7 * 86400;
      std::tm local{};
      if (LocalTime(when, &local)) {
        resultYear = local.tm_year + 1900;
        resultMonth = local.tm_mon + 1;
      }
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d", resultYear, resultMonth);
  return text;
}

}  // namespace

EdidFields DecodeEdid(std::span<const std::uint8_t> block) {
  const EdidBaseBlock base = DecodeEdidBaseBlock(block);

  EdidFields fields;
  fields.model = RowText(base.displayNameBytes);
  fields.serialNumber = RowText(base.serialNumberBytes);

  char text[64];
  std::snprintf(text, sizeof text, "%d.%d", base.version, base.revision);
  fields.edidVersion = text;

  const int width = base.widthCm;
  const int height = base.heightCm;
  // The square root is taken in single precision, the division in double.
  const float root = std::sqrt(static_cast<float>(width * width + height * height));
  const double diagonal = static_cast<double>(root) / 2.54;
  std::snprintf(text, sizeof text, "W:%dcm x H:%dcm (%2.1f\")", width, height, diagonal);
  fields.monitorSize = text;

  fields.mfgDate = ManufactureDate(base.manufactureWeek, base.manufactureYear);
  return fields;
}

}  // namespace glimmora

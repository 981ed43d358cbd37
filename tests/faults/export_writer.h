#pragma once
// Writes REGEDIT4 registry exports for tests that need registries larger or
// stranger than the samples: any number of monitors, values of any bytes.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace glimmora::testing {

class ExportWriter {
 public:
  ExportWriter() : text_("REGEDIT4\r\n\r\n") {}

  // Keys are given below HKEY_LOCAL_MACHINE.
  ExportWriter& Key(const std::string& path) {
    text_ += "[HKEY_LOCAL_MACHINE\\" + path + "]\r\n";
    return *this;
  }
  // Any bytes but zero: written as hex(1), so that CR, LF and quotes survive.
  ExportWriter& String(const std::string& name, const std::string& value) {
    std::vector<std::uint8_t> bytes(value.begin(), value.end());
    bytes.push_back(0);
    return Hex(name, 1, bytes);
  }
  ExportWriter& Hex(const std::string& name, int type, const std::vector<std::uint8_t>& bytes) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, type == 3 ? "=hex:" : "=hex(%x):", type);
    text_ += "\"" + name + "\"" + prefix;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", bytes[i]);
      text_ += byte;
    }
    text_ += "\r\n";
    return *this;
  }
  // One monitor instance with its four values and, unless edid is empty, an EDID value.
  ExportWriter& Monitor(const std::string& deviceId, const std::string& instance,
                        const std::vector<std::uint8_t>& edid, const std::string& description) {
    const std::string path =
        "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" + deviceId + "\\" + instance;
    Key(path)
        .String("Mfg", "(Standard monitor types)")
        .String("DeviceDesc", description)
        .String("Class", "Monitor")
        .Hex("HardwareID", 7, MultiString("MONITOR\\" + deviceId));
    Key(path + "\\Device Parameters");
    if (!edid.empty()) Hex("EDID", 3, edid);
    return *this;
  }

  const std::string& text() const { return text_; }
  bool Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text_;
    return static_cast<bool>(out.flush());
  }

 private:
  static std::vector<std::uint8_t> MultiString(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
  }

  std::string text_;
};

}  // namespace glimmora::testing

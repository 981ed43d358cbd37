// The EDID facts and the inventory's choice of serial and model, on the 300
// real EDIDs of tests/data/edid-corpus (checked against the independent
// decoder's report stored beside each dump), on damaged copies of real
// blocks, and the placeholder rules in one table. Prints what the fallbacks
// gain on the corpus.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "inventory/edid/edid.h"
#include "inventory/edid/edid_dump.h"
#include "inventory/edid/edid_facts.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/edid/monitor_key.h"
#include "inventory/makers/maker_names.h"
#include "tests/support/edid_builder.h"
#include "tests/support/edid_corpus.h"

namespace glimmora {
namespace {

using testing::kCorpusDir;
using testing::Quoted;
using testing::ReadCorpusFile;

std::vector<std::uint8_t> CorpusBlock(const std::string& file, std::string* report = nullptr) {
  const std::string contents = ReadCorpusFile(kCorpusDir + "/" + file);
  std::vector<std::uint8_t> block;
  std::string error;
  EXPECT_EQ(ParseEdidDump(contents, &block, &error), 0) << file << ": " << error;
  if (report) *report = contents;
  return block;
}

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(' ');
  return begin == std::string::npos ? std::string()
                                    : text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// What the reference report says about identification and extension blocks.
struct FactsReference {
  std::string manufacturer;
  long productCode = -1;
  unsigned long idSerial = 0;  // the report leaves the line out for 0
  bool modelYear = false;
  std::vector<std::string> extensionTexts;  // "serial:..." and "name:..." of extension blocks
  std::vector<long> displayIdProductCodes;
};

FactsReference ParseFactsReference(const std::string& report) {
  FactsReference ref;
  std::istringstream in(report);
  std::string line;
  int block = -1;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Block ", 0) == 0) block = std::stoi(line.substr(6));
    const std::string text = Trimmed(line);
    if (block == 0) {
      std::sscanf(text.c_str(), "Model: %ld", &ref.productCode);
      std::sscanf(text.c_str(), "Serial Number: %lu", &ref.idSerial);
      if (text.rfind("Manufacturer: ", 0) == 0) ref.manufacturer = text.substr(14);
      if (text.rfind("Model year: ", 0) == 0) ref.modelYear = true;
    } else if (block > 0) {
      if (text.rfind("Display Product Serial Number: ", 0) == 0)
        ref.extensionTexts.push_back("serial:" + Trimmed(Quoted(text)));
      if (text.rfind("Display Product Name: ", 0) == 0)
        ref.extensionTexts.push_back("name:" + Trimmed(Quoted(text)));
      long code = 0;
      if (std::sscanf(text.c_str(), "Product Code: %ld", &code) == 1)
        ref.displayIdProductCodes.push_back(code);
    }
  }
  return ref;
}

std::vector<std::string> CorpusFiles() {
  std::ifstream index(kCorpusDir + "/index.tsv");
  std::vector<std::string> files;
  std::string line;
  std::getline(index, line);
  while (std::getline(index, line)) files.push_back(line.substr(0, line.find('\t')));
  return files;
}

TEST(EdidFactsCorpus, AgreeWithTheReferenceAndMeasureTheFallbacks) {
  MakerNames makers;
  std::string problem;
  const bool haveList = makers.LoadPnpIds(DefaultPnpIdsPath(), &problem);
  if (!haveList) std::printf("(without pnp.ids: %s)\n", problem.c_str());

  std::map<std::string, int> tally;
  const std::vector<std::string> files = CorpusFiles();
  ASSERT_EQ(files.size(), 300u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::string report;
    const std::vector<std::uint8_t> block = CorpusBlock(file, &report);
    const FactsReference ref = ParseFactsReference(report);
    const EdidFacts facts = ReadEdidFacts(block);
    ASSERT_TRUE(facts.baseComplete);
    EXPECT_EQ(facts.manufacturerCode, ref.manufacturer);
    EXPECT_EQ(facts.productCode, ref.productCode);
    EXPECT_EQ(facts.idSerialNumber, ref.idSerial);
    EXPECT_TRUE(facts.checksumValid);
    EXPECT_EQ(facts.yearKind == YearKind::kModel, ref.modelYear);

    std::vector<std::string> extensionTexts;
    std::vector<long> productCodes;
    for (std::size_t i = 0; i < facts.extensions.size(); ++i) {
      const EdidExtension& extension = facts.extensions[i];
      // One dump announces an extension block it does not hold.
      EXPECT_EQ(extension.state,
                (i + 2) * 128 <= block.size() ? ExtensionState::kRead : ExtensionState::kTruncated);
      if (extension.state == ExtensionState::kTruncated) ++tally["extension block missing"];
      for (const DescriptorText& descriptor : extension.descriptors)
        extensionTexts.push_back((descriptor.tag == kDescriptorTagSerial ? "serial:" : "name:") +
                                 descriptor.text);
      if (extension.product) productCodes.push_back(extension.product->productCode);
    }
    EXPECT_EQ(extensionTexts, ref.extensionTexts);
    EXPECT_EQ(productCodes, ref.displayIdProductCodes);

    // The inventory's choice, against the plain decoding of the base block.
    const EdidFields plain = DecodeEdid(block);
    const InventoryIdentity identity = ChooseInventoryIdentity(facts);
    ++tally["serial from " + std::string(SerialSourceName(identity.serialSource))];
    if (plain.serialNumber.empty() && identity.serialSource != SerialSource::kNone)
      ++tally["no serial text, serial gained from " +
              std::string(SerialSourceName(identity.serialSource))];
    if (identity.placeholderSerial) ++tally["serial text flagged as placeholder"];
    if (IsPlaceholderIdSerial(facts.idSerialNumber)) ++tally["ID number a placeholder"];
    if (identity.serialSource == SerialSource::kDescriptor) {
      EXPECT_FALSE(IsPlaceholderSerialText(identity.serial));
      EXPECT_EQ(identity.serial, plain.serialNumber);
    }
    if (plain.model.empty() && !identity.model.empty()) ++tally["model gained"];
    if (!plain.model.empty()) {
      EXPECT_EQ(identity.model, plain.model);
    }
    if (plain.model.empty() && plain.serialNumber.empty()) {
      ++tally["row left out of the plain listing"];
      if (!identity.model.empty() || identity.serialSource != SerialSource::kNone)
        ++tally["... of them identified by the inventory columns"];
    }
    ++tally[makers.HasName(facts.manufacturerCode) ? "maker code with a name"
                                                   : "maker code without a name"];
  }
  std::printf("%zu real EDIDs:\n", files.size());
  for (const auto& [what, count] : tally) std::printf("  %3d  %s\n", count, what.c_str());

  // The corpus has three CTA-861 serials (LG), three LG models named in one
  // descriptor and blanked by a second one, and blocks without a serial text.
  EXPECT_EQ(tally["no serial text, serial gained from extension"], 3);
  EXPECT_EQ(tally["model gained"], 3);
  EXPECT_GT(tally["no serial text, serial gained from id-number"], 0);
  if (haveList) {
    EXPECT_GT(tally["maker code with a name"], 270);
  }
}

// Real blocks cut short or damaged: what is left of them is skipped, the rest
// of the facts stay, and no byte past the end is read (AddressSanitizer).
TEST(EdidFactsExtensions, DamagedBlocksAreSkippedNotMisread) {
  // LG 27UD58: its serial only in the CTA-861 block.
  const std::vector<std::uint8_t> lg = CorpusBlock("3C26233024D3.txt");
  ASSERT_EQ(lg.size(), 256u);
  InventoryIdentity whole = ChooseInventoryIdentity(ReadEdidFacts(lg));
  EXPECT_EQ(whole.serial, "011INYDDB754");
  EXPECT_EQ(whole.serialSource, SerialSource::kExtension);
  EXPECT_EQ(whole.model, "LG HDR 4K");

  for (std::size_t length : {128u, 129u, 200u, 255u}) {
    const std::vector<std::uint8_t> cut(lg.begin(), lg.begin() + length);
    const EdidFacts facts = ReadEdidFacts(cut);
    ASSERT_EQ(facts.extensions.size(), 1u);
    EXPECT_EQ(facts.extensions[0].state, ExtensionState::kTruncated) << length;
    EXPECT_TRUE(facts.extensions[0].descriptors.empty());
    // The base block's ID number (453754) is what remains.
    EXPECT_EQ(ChooseInventoryIdentity(facts).serial, "453754");
    EXPECT_EQ(ChooseInventoryIdentity(facts).serialSource, SerialSource::kIdNumber);
  }

  std::vector<std::uint8_t> flipped = lg;
  flipped[128 + 100] ^= 0x40;  // one bit: the checksum no longer fits
  EXPECT_EQ(ReadEdidFacts(flipped).extensions[0].state, ExtensionState::kCorrupt);

  // A detailed-timing offset into the header, the checksum made to fit.
  std::vector<std::uint8_t> badOffset = lg;
  badOffset[128 + 2] = 2;
  badOffset[255] = static_cast<std::uint8_t>(badOffset[255] + lg[128 + 2] - 2);
  EXPECT_EQ(ReadEdidFacts(badOffset).extensions[0].state, ExtensionState::kCorrupt);

  // More extension blocks announced than the value holds.
  std::vector<std::uint8_t> announced = lg;
  announced[126] = 3;
  const EdidFacts moreAnnounced = ReadEdidFacts(announced);
  ASSERT_EQ(moreAnnounced.extensions.size(), 3u);
  EXPECT_EQ(moreAnnounced.extensions[1].state, ExtensionState::kTruncated);
  EXPECT_FALSE(moreAnnounced.checksumValid);

  // A DisplayID 2.0 product identification (a 16" OLED panel): product code
  // 16761, no serial, no name; a data block running past its section is corrupt.
  const std::vector<std::uint8_t> oled = CorpusBlock("0ED9A241748D.txt");
  const EdidFacts oledFacts = ReadEdidFacts(oled);
  ASSERT_EQ(oledFacts.extensions.size(), 1u);
  ASSERT_TRUE(oledFacts.extensions[0].product);
  EXPECT_EQ(oledFacts.extensions[0].product->productCode, 16761);
  EXPECT_EQ(oledFacts.extensions[0].product->serialNumber, 0u);
  std::vector<std::uint8_t> longData = oled;
  longData[128 + 7] = 0x7F;  // the product block's length
  longData[128 + 126] = static_cast<std::uint8_t>(longData[128 + 126] + 0x0C - 0x7F);
  const EdidFacts longFacts = ReadEdidFacts(longData);
  EXPECT_EQ(longFacts.extensions[0].state, ExtensionState::kCorrupt);
  EXPECT_FALSE(longFacts.extensions[0].product);

  EXPECT_FALSE(ReadEdidFacts(std::vector<std::uint8_t>(127, 0)).baseComplete);
}

TEST(InventoryIdentity, PlaceholdersAreRecognised) {
  struct Case {
    std::string text;
    bool placeholder;
  };
  const Case texts[] = {
      {"", true},
      {"   ", true},
      {"0", true},
      {"0000000000000", true},
      {"0000000000001", true},
      {"01010101", true},
      {"AAAAAAAA", true},
      {"123456789", true},
      {"0123456789", true},
      {"serial", true},
      {"S/N", true},
      {"N/A", true},
      {"H1AK500000", true},
      {"2NQHQD3", false},
      {"VN  000433", false},
      {"011INYDDB754", false},
      {"1001", false},
      {"#ASNIwZU6C/Td", false},
      {"10", false},
      {"ABABAB", true},
      {"0000000000010", false},
  };
  for (const Case& c : texts) EXPECT_EQ(IsPlaceholderSerialText(c.text), c.placeholder) << c.text;

  struct Number {
    std::uint32_t number;
    bool placeholder;
  };
  const Number numbers[] = {{0, true},      {1, true},    {0x01010101, true}, {0xFFFFFFFF, true},
                            {0x5445, true}, {433, false}, {453754, false},    {0x01010102, false}};
  for (const Number& n : numbers)
    EXPECT_EQ(IsPlaceholderIdSerial(n.number), n.placeholder) << std::hex << n.number;
}

// The list of our own wins over pnp.ids; a file that is missing, malformed or
// empty is refused whole, with its name and the reason.
TEST(MakerNames, OwnListFirstThenTheFileAndBadFilesRefused) {
  const std::string dir = ::testing::TempDir();
  auto write = [&](const std::string& name, const std::string& contents) {
    std::ofstream(dir + name, std::ios::binary) << contents;
    return dir + name;
  };
  MakerNames makers;
  std::string problem;
  ASSERT_TRUE(
      makers.LoadPnpIds(write("good.ids",
                              "# comment\r\nACI\tAncor Communications Inc\r\nDEL\tDell Inc.\r\n\r\n"
                              "EBS\tEBS Euchner B\xC3\xBCro\n"),
                        &problem))
      << problem;
  EXPECT_EQ(makers.NameFor("ACI"), "ASUS");
  EXPECT_EQ(makers.NameFor("DEL"), "Dell Inc.");
  EXPECT_EQ(makers.NameFor("BNQ"), "BenQ");
  EXPECT_EQ(makers.NameFor("QQQ"), "QQQ");
  EXPECT_FALSE(makers.HasName("QQQ"));

  const struct {
    std::string contents;
    std::string reason;
  } bad[] = {{"DEL Dell Inc.\n", "line 1: not a PNP ID line"},
             {"ABC\tName\nAB\tShort\n", "line 2: not a PNP ID line"},
             {"", "no PNP ID"}};
  for (const auto& file : bad) {
    MakerNames fresh;
    const std::string path = write("bad.ids", file.contents);
    EXPECT_FALSE(fresh.LoadPnpIds(path, &problem));
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    EXPECT_NE(problem.find(file.reason), std::string::npos) << problem;
    EXPECT_EQ(fresh.NameFor("ABC"), "ABC");
  }
  EXPECT_FALSE(makers.LoadPnpIds(dir + "missing.ids", &problem));
  EXPECT_NE(problem.find("missing.ids: cannot be opened"), std::string::npos) << problem;
  EXPECT_EQ(makers.NameFor("DEL"), "Dell Inc.");  // what was loaded stays
}

}  // namespace
}  // namespace glimmora

namespace glimmora {
namespace {

TEST(MonitorKey, TheFormFollowsWhatTheEdidHolds) {
  EXPECT_EQ(Fnv1a64(std::vector<std::uint8_t>{'a'}), 0xaf63dc4c8601ec8cULL);

  std::vector<std::uint8_t> edid = testing::MakeEdid({.model = "P2719H", .serial = "4XCV833"});
  const std::string serialKey = MonitorKeyOf(edid, ReadEdidFacts(edid), "DEL4185", "pc01");
  EXPECT_EQ(serialKey.substr(serialKey.find("-S:")), "-S:4XCV833");
  EXPECT_EQ(MonitorKeyOf(edid, ReadEdidFacts(edid), "DEL4186", "PC02"), serialKey);
  EXPECT_EQ(MonitorKeyKindOf(serialKey), MonitorKeyKind::kSerial);

  // A placeholder serial and no ID number: the base block identifies the unit,
  // whatever its extension blocks say.
  edid = testing::MakeEdid({.model = "TV", .serial = "0000000000001", .size = 256});
  const std::string hashKey = MonitorKeyOf(edid, ReadEdidFacts(edid), "SHP4353", "PC01");
  EXPECT_EQ(MonitorKeyKindOf(hashKey), MonitorKeyKind::kEdidHash) << hashKey;
  edid[200] ^= 1;
  EXPECT_EQ(MonitorKeyOf(edid, ReadEdidFacts(edid), "SHP4353", "PC02"), hashKey);
  edid[20] ^= 1;
  EXPECT_NE(MonitorKeyOf(edid, ReadEdidFacts(edid), "SHP4353", "PC01"), hashKey);

  edid.resize(100);
  EXPECT_EQ(MonitorKeyOf(edid, ReadEdidFacts(edid), "DELD11D", "acct-01"), "DEL-D11D-W:ACCT-01");
  EXPECT_EQ(MonitorKeyKindOf("DEL-D11D-W:ACCT-01"), MonitorKeyKind::kWorkstation);
}

}  // namespace
}  // namespace glimmora

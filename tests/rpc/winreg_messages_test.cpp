#include "inventory/rpc/winreg_messages.h"

#include <gtest/gtest.h>

#include <random>

#include "inventory/ansi_conversion.h"

namespace glimmora::winreg {
namespace {

KeyHandle SampleHandle() {
  KeyHandle h;
  for (std::size_t i = 0; i < h.bytes.size(); ++i) h.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  return h;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes HandleBytes() {
  const KeyHandle h = SampleHandle();
  return Bytes(h.bytes.begin(), h.bytes.end());
}

// Answers a Samba server gave on loopback, with its handles.
const Bytes kOpenKeyAnswer = {0x01, 0x00, 0x00, 0x00, 0x26, 0x9b, 0x3a, 0xeb,
                              0xa7, 0xeb, 0x54, 0x49, 0x89, 0xa6, 0xc9, 0x5e,
                              0x21, 0xba, 0xd4, 0x65, 0x00, 0x00, 0x00, 0x00};
const Bytes kOpenMissingAnswer = {0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0};
// EnumKey: "1&1a2b3c&0&UID4352" (19 code units with the zero), an empty class,
// a last-write time, status 0.
const Bytes kEnumAnswer = {
    0x26, 0x00, 0x06, 0x02, 0x10, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x13, 0x00, 0x00, 0x00, 0x31, 0x00, 0x26, 0x00, 0x31, 0x00, 0x61, 0x00, 0x32, 0x00,
    0x62, 0x00, 0x33, 0x00, 0x63, 0x00, 0x26, 0x00, 0x30, 0x00, 0x26, 0x00, 0x55, 0x00, 0x49,
    0x00, 0x44, 0x00, 0x34, 0x00, 0x33, 0x00, 0x35, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x14, 0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x02, 0x18, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x02, 0x00, 0x11, 0x22,
    0x33, 0x44, 0x55, 0x66, 0x77, 0x01, 0x00, 0x00, 0x00, 0x00};
// EnumKey past the last subkey: empty name, status 259.
const Bytes kEnumEndAnswer = {
    0x00, 0x00, 0x06, 0x02, 0x10, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x02, 0x18, 0x00,
    0x02, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1c,
    0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00};
// QueryValue of "Class": REG_SZ "Monitor" with its zero, 16 bytes.
const Bytes kQueryAnswer = {0x14, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x00, 0x02, 0x00,
                            0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
                            0x4d, 0x00, 0x6f, 0x00, 0x6e, 0x00, 0x69, 0x00, 0x74, 0x00, 0x6f, 0x00,
                            0x72, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00,
                            0x20, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// The same with a 4-byte buffer: ERROR_MORE_DATA (234) and the 16 bytes needed.
const Bytes kQueryMoreDataAnswer = {
    0x14, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x02, 0x00, 0x10, 0x00,
    0x00, 0x00, 0x20, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xea, 0x00, 0x00, 0x00};

TEST(WinregRequests, OpenLocalMachine) {
  EXPECT_EQ(EncodeOpenLocalMachine(0x20019), (Bytes{0, 0, 0, 0, 0x19, 0x00, 0x02, 0x00}));
}

TEST(WinregRequests, OpenKeySendsTheZeroTerminatedUtf16Path) {
  Bytes request;
  ASSERT_TRUE(EncodeOpenKey(SampleHandle(), "A\\\xE6\x97\xA5", 0, 0x20019, &request));
  const Bytes expected = Concat({HandleBytes(),
                                 {0x08, 0x00, 0x08, 0x00},              // byte length, maximum
                                 {0x00, 0x00, 0x02, 0x00},              // pointer
                                 {4, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0},  // max, offset, actual
                                 {'A', 0, '\\', 0, 0xE5, 0x65, 0, 0},   // "A\日" and the zero
                                 {0, 0, 0, 0},                          // options
                                 {0x19, 0x00, 0x02, 0x00}});
  EXPECT_EQ(request, expected);
}

TEST(WinregRequests, OpenKeyPadsAnOddLengthPathToFourBytes) {
  Bytes request;
  ASSERT_TRUE(EncodeOpenKey(SampleHandle(), "AB", 0, 1, &request));
  ASSERT_EQ(request.size(), 20u + 4 + 4 + 12 + 6 + 2 + 8);
  EXPECT_EQ(request[46], 0);  // padding after the three code units
  EXPECT_EQ(request[47], 0);
  EXPECT_EQ(request[52], 1);  // access mask
}

TEST(WinregRequests, OpenKeyRefusesWhatCannotBeSent) {
  Bytes request;
  EXPECT_FALSE(EncodeOpenKey(SampleHandle(), "bad\xC3", 0, 1, &request));
  EXPECT_FALSE(EncodeOpenKey(SampleHandle(), std::string(32767, 'a'), 0, 1, &request));
  EXPECT_TRUE(EncodeOpenKey(SampleHandle(), std::string(32766, 'a'), 0, 1, &request));
}

TEST(WinregRequests, EnumKeyOffersNameAndClassBuffersAndATime) {
  const Bytes expected = Concat({HandleBytes(),
                                 {7, 0, 0, 0},                                      // index
                                 {0x00, 0x00, 0x06, 0x02, 0x00, 0x00, 0x02, 0x00},  // 0 of 518
                                 {0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},        // 259, 0, 0
                                 {0x04, 0x00, 0x02, 0x00},                          // class
                                 {0x00, 0x00, 0x06, 0x02, 0x1c, 0x00, 0x02, 0x00},
                                 {0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                 {0x08, 0x00, 0x02, 0x00},  // time, 4-byte aligned
                                 {0, 0, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(EncodeEnumKey(SampleHandle(), 7), expected);
}

TEST(WinregRequests, QueryValueOffersADataBufferOfTheGivenSize) {
  Bytes request;
  ASSERT_TRUE(EncodeQueryValue(SampleHandle(), "EDID", 1024, &request));
  const Bytes expected = Concat({HandleBytes(),
                                 {0x0a, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x02, 0x00},
                                 {5, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0},
                                 {'E', 0, 'D', 0, 'I', 0, 'D', 0, 0, 0, 0, 0},  // zero, padding
                                 {0x0c, 0x00, 0x02, 0x00, 0, 0, 0, 0},          // type
                                 {0x10, 0x00, 0x02, 0x00},                      // data
                                 {0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},    // 1024, 0, 0
                                 {0x14, 0x00, 0x02, 0x00, 0x00, 0x04, 0, 0},    // size
                                 {0x18, 0x00, 0x02, 0x00, 0, 0, 0, 0}});        // length
  EXPECT_EQ(request, expected);
  EXPECT_FALSE(EncodeQueryValue(SampleHandle(), "EDID", kMaxValueDataBytes + 1, &request));
}

TEST(WinregRequests, CloseKeySendsTheHandle) {
  EXPECT_EQ(EncodeCloseKey(SampleHandle()), HandleBytes());
}

TEST(WinregResponses, HandleAnswers) {
  HandleResponse r;
  ASSERT_TRUE(ParseOpenKey(kOpenKeyAnswer, &r));
  EXPECT_EQ(r.status, 0u);
  EXPECT_FALSE(r.handle.IsNull());
  EXPECT_EQ(r.handle.bytes[4], 0x26);
  ASSERT_TRUE(ParseOpenKey(kOpenMissingAnswer, &r));
  EXPECT_EQ(r.status, 2u);
  EXPECT_TRUE(r.handle.IsNull());
  ASSERT_TRUE(ParseCloseKey(Bytes(24, 0), &r));
  ASSERT_TRUE(ParseOpenLocalMachine(kOpenKeyAnswer, &r));
}

TEST(WinregResponses, EnumKeyNameAndEnd) {
  EnumKeyResponse r;
  ASSERT_TRUE(ParseEnumKey(kEnumAnswer, &r));
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(Utf8FromUtf16(r.nameUtf16), "1&1a2b3c&0&UID4352");  // without its zero
  ASSERT_TRUE(ParseEnumKey(kEnumEndAnswer, &r));
  EXPECT_EQ(r.status, 259u);
  EXPECT_TRUE(r.nameUtf16.empty());
}

TEST(WinregResponses, EnumKeyWithoutClassOrTime) {
  // Null class and time pointers are legal answers.
  const Bytes answer = {0x04, 0x00, 0x06, 0x02, 0x10, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 'X',  0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EnumKeyResponse r;
  ASSERT_TRUE(ParseEnumKey(answer, &r));
  EXPECT_EQ(Utf8FromUtf16(r.nameUtf16), "X");
}

// The last-write time is two 32-bit halves: aligned to 4 bytes, not 8.
TEST(WinregResponses, EnumKeyTimeIsFourByteAligned) {
  const Bytes answer = {0x06, 0x00, 0x06, 0x02, 0x10, 0x00, 0x02, 0x00, 0x03, 0x01,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                        'X',  0x00, 'Y',  0x00, 0x00, 0x00, 0x00, 0x00,  // zero, padding
                        0x00, 0x00, 0x00, 0x00,                          // no class
                        0x1c, 0x00, 0x02, 0x00,                          // time at 36
                        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  //
                        0x00, 0x00, 0x00, 0x00};
  EnumKeyResponse r;
  ASSERT_TRUE(ParseEnumKey(answer, &r));
  EXPECT_EQ(Utf8FromUtf16(r.nameUtf16), "XY");
  EXPECT_EQ(r.status, 0u);
}

TEST(WinregResponses, QueryValueDataAndMoreData) {
  QueryValueResponse r;
  ASSERT_TRUE(ParseQueryValue(kQueryAnswer, &r));
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(r.type, 1u);
  EXPECT_EQ(r.data.size(), 16u);
  const Bytes text = ValueDataToAnsi(r.type, r.data);
  EXPECT_EQ(std::string(text.begin(), text.end()), std::string("Monitor\0", 8));

  ASSERT_TRUE(ParseQueryValue(kQueryMoreDataAnswer, &r));
  EXPECT_EQ(r.status, 234u);
  EXPECT_EQ(r.neededSize, 16u);
  EXPECT_TRUE(r.data.empty());
}

// Every cut-short answer and every answer with a byte too many is refused.
TEST(WinregResponses, TruncatedOrOverlongAnswersAreRefused) {
  for (const Bytes* answer : {&kEnumAnswer, &kEnumEndAnswer}) {
    EnumKeyResponse r;
    for (std::size_t n = 0; n < answer->size(); ++n) {
      EXPECT_FALSE(ParseEnumKey(Bytes(answer->begin(), answer->begin() + n), &r)) << n;
    }
    Bytes longer = *answer;
    longer.push_back(0);
    EXPECT_FALSE(ParseEnumKey(longer, &r));
  }
  for (const Bytes* answer : {&kQueryAnswer, &kQueryMoreDataAnswer}) {
    QueryValueResponse r;
    for (std::size_t n = 0; n < answer->size(); ++n) {
      EXPECT_FALSE(ParseQueryValue(Bytes(answer->begin(), answer->begin() + n), &r)) << n;
    }
    Bytes longer = *answer;
    longer.push_back(0);
    EXPECT_FALSE(ParseQueryValue(longer, &r));
  }
  HandleResponse h;
  for (std::size_t n = 0; n < kOpenKeyAnswer.size(); ++n) {
    EXPECT_FALSE(ParseOpenKey(Bytes(kOpenKeyAnswer.begin(), kOpenKeyAnswer.begin() + n), &h));
  }
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

TEST(WinregResponses, EnumKeyWithInconsistentLengthsIsRefused) {
  EnumKeyResponse r;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"huge actual count", [](Bytes& b) { PutU32(b, 16, 0xFFFFFFF0); }},
      {"actual count past the maximum", [](Bytes& b) { PutU32(b, 8, 18); }},
      {"actual count not the length", [](Bytes& b) { PutU32(b, 16, 18); }},
      {"non-zero offset", [](Bytes& b) { PutU32(b, 12, 1); }},
      {"length past the size", [](Bytes& b) { PutU16(b, 2, 0x24); }},
      {"odd length", [](Bytes& b) { PutU16(b, 0, 0x25); }},
      {"maximum far past the size", [](Bytes& b) { PutU32(b, 8, 0x7FFFFFFF); }},
      {"huge class count", [](Bytes& b) { PutU32(b, 80, 0xFFFFFFFF); }},
  };
  for (const Case& c : cases) {
    Bytes answer = kEnumAnswer;
    c.damage(answer);
    EXPECT_FALSE(ParseEnumKey(answer, &r)) << c.what;
  }
  Bytes nullName = kEnumEndAnswer;
  PutU32(nullName, 4, 0);  // a null name pointer is fine while the length is 0 ...
  nullName.erase(nullName.begin() + 8, nullName.begin() + 20);
  ASSERT_TRUE(ParseEnumKey(nullName, &r));
  PutU16(nullName, 0, 2);  // ... but not with a length
  EXPECT_FALSE(ParseEnumKey(nullName, &r));
}

TEST(WinregResponses, QueryValueWithInconsistentLengthsIsRefused) {
  QueryValueResponse r;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"huge actual count", [](Bytes& b) { PutU32(b, 20, 0xFFFFFFFF); }},
      {"huge maximum count", [](Bytes& b) { PutU32(b, 12, 0xFFFFFFFF); }},
      {"non-zero offset", [](Bytes& b) { PutU32(b, 16, 4); }},
      {"length that is not what was sent", [](Bytes& b) { PutU32(b, 52, 14); }},
      {"size smaller than what was sent", [](Bytes& b) { PutU32(b, 44, 8); }},
      {"no type on success", [](Bytes& b) { PutU32(b, 0, 0); }},
  };
  for (const Case& c : cases) {
    Bytes answer = kQueryAnswer;
    c.damage(answer);
    EXPECT_FALSE(ParseQueryValue(answer, &r)) << c.what;
  }
}

// Random damage to real answers: the parsers must refuse or accept without
// reading outside the bytes (the sanitizer build checks that), and anything
// accepted must be consistent with its input size.
TEST(WinregResponses, RandomDamageNeverReadsOutOfBounds) {
  std::mt19937 random(20240611);
  const Bytes* answers[] = {&kEnumAnswer, &kEnumEndAnswer, &kQueryAnswer, &kQueryMoreDataAnswer,
                            &kOpenKeyAnswer};
  for (int round = 0; round < 20000; ++round) {
    Bytes b = *answers[random() % std::size(answers)];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      switch (random() % 3) {
        case 0:
          if (!b.empty()) b[random() % b.size()] = static_cast<std::uint8_t>(random());
          break;
        case 1:
          if (!b.empty()) b.resize(random() % b.size());
          break;
        default:
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(random() % (b.size() + 1)),
                   static_cast<std::uint8_t>(random()));
      }
    }
    EnumKeyResponse enumKey;
    if (ParseEnumKey(b, &enumKey)) {
      EXPECT_LE(enumKey.nameUtf16.size(), b.size());
    }
    QueryValueResponse query;
    if (ParseQueryValue(b, &query)) {
      EXPECT_LE(query.data.size(), b.size());
    }
    HandleResponse handle;
    ParseOpenKey(b, &handle);
  }
}

// The 8-bit text is UTF-8 off Windows; there the Japanese value comes out so.
TEST(WinregText, StringValuesBecomeAnsiTextWithTheirZeros) {
#ifndef _WIN32
  const Bytes desc = {0x4E, 0x6C, 0x28, 0x75, 0x20, 0x00, 'P', 0, 0x00, 0x00};  // "汎用 P"
  const Bytes text = ValueDataToAnsi(1, desc);
  EXPECT_EQ(std::string(text.begin(), text.end()), std::string("\xE6\xB1\x8E\xE7\x94\xA8 P\0", 9));
#endif
  const Bytes multi = {'A', 0, 0, 0, 'B', 0, 0, 0, 0, 0};
  const Bytes multiText = ValueDataToAnsi(7, multi);
  EXPECT_EQ(std::string(multiText.begin(), multiText.end()), std::string("A\0B\0\0", 5));
  const Bytes expand = ValueDataToAnsi(2, Bytes{'%', 0, 'X', 0, '%'});  // odd byte dropped
  EXPECT_EQ(std::string(expand.begin(), expand.end()), "%X");
  const Bytes binary = {0x00, 0xFF, 0xD8, 0x00, 0x41};
  EXPECT_EQ(ValueDataToAnsi(3, binary), binary);
  EXPECT_EQ(ValueDataToAnsi(4, Bytes{1, 2, 3, 4}), (Bytes{1, 2, 3, 4}));
}

TEST(WinregText, Utf8ToUtf16) {
  std::u16string out;
  ASSERT_TRUE(Utf8ToUtf16("A\xE6\x97\xA5\xF0\x9F\x96\xB5", &out));
  EXPECT_EQ(out, u"A\u65E5\U0001F5B5");  // a surrogate pair for the last
  for (const char* bad :
       {"\xC0\x80", "\xED\xA0\x80", "\xE3\x81", "\xF4\x90\x80\x80", "\x80", "\xFF"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, &out)) << bad;
  }
}

}  // namespace
}  // namespace glimmora::winreg

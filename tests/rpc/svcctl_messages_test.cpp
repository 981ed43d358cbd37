#include "inventory/rpc/svcctl_messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

#include "inventory/rpc/ndr_stream.h"
#include "inventory/rpc/winreg_messages.h"
#include "tests/rpc/svcctl_samba_reference.h"

namespace glimmora::svcctl {
namespace {

// The handle is opaque to the client: any 20 bytes will do, none of them zero.
ScHandle SampleHandle() {
  ScHandle h;
  for (std::size_t i = 0; i < h.bytes.size(); ++i) h.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  return h;
}

// What Samba's encoder made of one half of a call.
class SambaStub {
 public:
  SambaStub() : stub_(std::make_unique<samba_svcctl_stub>()) {}
  samba_svcctl_stub* get() { return stub_.get(); }
  Bytes bytes() const { return Bytes(stub_->data, stub_->data + stub_->length); }

 private:
  std::unique_ptr<samba_svcctl_stub> stub_;
};

Bytes Ours(bool (*encode)(std::string_view, std::uint32_t, Bytes*), std::string_view name,
           std::uint32_t access) {
  Bytes request;
  EXPECT_TRUE(encode(name, access, &request)) << name;
  return request;
}

TEST(SvcctlRequests, OpenScManagerAsSambaEncodesIt) {
  // Names of odd and even lengths, so that the access mask after them is
  // padded both ways; the last one outside the Basic Multilingual Plane.
  for (const char* machine : {"\\\\WS-0042", "\\\\WS-042", "ws", "\\\\\xE6\x97\xA5\xE6\x9C\xAC",
                              "\\\\pc\xF0\x9F\x96\xB5"}) {
    SambaStub samba;
    ASSERT_EQ(samba_svcctl_open_sc_manager_request(machine, kScManagerConnect, samba.get()), 0);
    EXPECT_EQ(Ours(EncodeOpenScManager, machine, kScManagerConnect), samba.bytes()) << machine;
  }
  SambaStub samba;
  ASSERT_EQ(samba_svcctl_open_sc_manager_request(nullptr, kScManagerConnect, samba.get()), 0);
  EXPECT_EQ(Ours(EncodeOpenScManager, "", kScManagerConnect), samba.bytes());
}

TEST(SvcctlRequests, OpenServiceAsSambaEncodesIt) {
  EXPECT_EQ(kServiceStartAndRestoreAccess, 0x37u);
  for (const char* service : {kRemoteRegistryService, "Abc", "Spooler"}) {
    SambaStub samba;
    ASSERT_EQ(samba_svcctl_open_service_request(SampleHandle().bytes.data(), service,
                                                kServiceStartAndRestoreAccess, samba.get()),
              0);
    Bytes request;
    ASSERT_TRUE(
        EncodeOpenService(SampleHandle(), service, kServiceStartAndRestoreAccess, &request));
    EXPECT_EQ(request, samba.bytes()) << service;
  }
}

TEST(SvcctlRequests, HandleCallsAsSambaEncodesThem) {
  const ScHandle handle = SampleHandle();
  const std::uint8_t* raw = handle.bytes.data();
  SambaStub samba;

  ASSERT_EQ(samba_svcctl_query_status_request(raw, samba.get()), 0);
  EXPECT_EQ(EncodeQueryServiceStatus(handle), samba.bytes());

  for (std::uint32_t offered : {0u, 36u, 1024u, kMaxServiceConfigBytes}) {
    ASSERT_EQ(samba_svcctl_query_config_request(raw, offered, samba.get()), 0);
    Bytes request;
    ASSERT_TRUE(EncodeQueryServiceConfig(handle, offered, &request));
    EXPECT_EQ(request, samba.bytes()) << offered;
  }

  for (ServiceStartType type :
       {ServiceStartType::kBoot, ServiceStartType::kSystem, ServiceStartType::kAutomatic,
        ServiceStartType::kManual, ServiceStartType::kDisabled}) {
    ASSERT_EQ(
        samba_svcctl_change_start_type_request(raw, static_cast<std::uint32_t>(type), samba.get()),
        0);
    EXPECT_EQ(EncodeChangeStartType(handle, type), samba.bytes())
        << static_cast<std::uint32_t>(type);
  }

  ASSERT_EQ(samba_svcctl_start_request(raw, samba.get()), 0);
  EXPECT_EQ(EncodeStartService(handle), samba.bytes());

  ASSERT_EQ(samba_svcctl_control_request(raw, kServiceControlStop, samba.get()), 0);
  EXPECT_EQ(EncodeControlService(handle, kServiceControlStop), samba.bytes());

  ASSERT_EQ(samba_svcctl_close_request(raw, samba.get()), 0);
  EXPECT_EQ(EncodeCloseServiceHandle(handle), samba.bytes());
}

TEST(SvcctlRequests, RefusesWhatCannotBeSent) {
  Bytes request;
  EXPECT_FALSE(EncodeOpenService(SampleHandle(), "bad\xC3", 1, &request));
  EXPECT_FALSE(EncodeOpenService(SampleHandle(), std::string("Remote\0Registry", 15), 1, &request));
  EXPECT_TRUE(EncodeOpenService(SampleHandle(), std::string(256, 's'), 1, &request));
  EXPECT_FALSE(EncodeOpenService(SampleHandle(), std::string(257, 's'), 1, &request));
  EXPECT_TRUE(EncodeOpenScManager(std::string(1023, 'm'), 1, &request));
  EXPECT_FALSE(EncodeOpenScManager(std::string(1024, 'm'), 1, &request));
  EXPECT_FALSE(EncodeOpenScManager("\xFF", 1, &request));
  EXPECT_FALSE(EncodeQueryServiceConfig(SampleHandle(), kMaxServiceConfigBytes + 1, &request));
}

// Answers built by Samba's encoder, each with the parser that reads it.
struct Answer {
  const char* what;
  Bytes bytes;
  std::function<bool(std::span<const std::uint8_t>)> parse;
};

Bytes HandleAnswer(std::uint16_t opnum, const ScHandle& handle, std::uint32_t result) {
  SambaStub samba;
  EXPECT_EQ(samba_svcctl_handle_response(opnum, handle.bytes.data(), result, samba.get()), 0);
  return samba.bytes();
}

Bytes StatusAnswer(std::uint16_t opnum, const samba_svcctl_status& status, std::uint32_t result) {
  SambaStub samba;
  EXPECT_EQ(samba_svcctl_status_response(opnum, &status, result, samba.get()), 0);
  return samba.bytes();
}

Bytes ConfigAnswer(const samba_svcctl_config& config, std::uint32_t needed, std::uint32_t result) {
  SambaStub samba;
  EXPECT_EQ(samba_svcctl_query_config_response(&config, needed, result, samba.get()), 0);
  return samba.bytes();
}

// The Remote Registry service of a French client edition, disabled.
const samba_svcctl_config kRemoteRegistryConfig = {
    0x20,
    4,
    1,
    "C:\\Windows\\system32\\svchost.exe -k localService -p",
    "",
    0,
    "RpcSs",
    "NT AUTHORITY\\LocalService",
    "Registre \xC3\xA0 distance",
};
// Running, accepting stop, with a wait hint and a check point to tell apart.
const samba_svcctl_status kRunning = {0x20, 4, 1, 0, 0, 7, 2000};

TEST(SvcctlResponses, HandleAnswers) {
  const ScHandle opened = SampleHandle();
  const std::pair<std::uint16_t, bool (*)(std::span<const std::uint8_t>, HandleResponse*)> calls[] =
      {{kOpOpenScManager, ParseOpenScManager},
       {kOpOpenService, ParseOpenService},
       {kOpCloseServiceHandle, ParseCloseServiceHandle}};
  for (const auto& [opnum, parse] : calls) {
    HandleResponse r;
    ASSERT_TRUE(parse(HandleAnswer(opnum, opened, 0), &r)) << opnum;
    EXPECT_EQ(r.handle, opened);
    EXPECT_EQ(r.status, 0u);
  }
  HandleResponse r;
  ASSERT_TRUE(ParseOpenService(HandleAnswer(kOpOpenService, ScHandle{}, 5), &r));
  EXPECT_TRUE(r.handle.IsNull());
  EXPECT_EQ(r.status, 5u);
  ASSERT_TRUE(ParseCloseServiceHandle(HandleAnswer(kOpCloseServiceHandle, ScHandle{}, 0), &r));
  EXPECT_TRUE(r.handle.IsNull());
}

TEST(SvcctlResponses, StatusAnswers) {
  ServiceStatusResponse r;
  ASSERT_TRUE(ParseQueryServiceStatus(StatusAnswer(kOpQueryServiceStatus, kRunning, 0), &r));
  EXPECT_EQ(r.service.state, ServiceState::kRunning);
  EXPECT_EQ(r.service.waitHintMs, 2000u);
  EXPECT_EQ(r.service.checkPoint, 7u);
  EXPECT_EQ(r.serviceType, 0x20u);
  EXPECT_EQ(r.controlsAccepted, 1u);
  EXPECT_EQ(r.status, 0u);

  const samba_svcctl_status stopping = {0x20, 3, 0, 0, 0, 1, 5000};
  ASSERT_TRUE(ParseControlService(StatusAnswer(kOpControlService, stopping, 0), &r));
  EXPECT_EQ(r.service.state, ServiceState::kStopPending);
  EXPECT_EQ(r.service.waitHintMs, 5000u);

  // A stop of a stopped service: ERROR_SERVICE_NOT_ACTIVE with the status,
  // whose exit codes are kept.
  const samba_svcctl_status stopped = {0x20, 1, 0, 1066, 42, 0, 0};
  ASSERT_TRUE(ParseControlService(StatusAnswer(kOpControlService, stopped, 1062), &r));
  EXPECT_EQ(r.status, 1062u);
  EXPECT_EQ(r.service.state, ServiceState::kStopped);
  EXPECT_EQ(r.win32ExitCode, 1066u);
  EXPECT_EQ(r.serviceSpecificExitCode, 42u);

  // A refusal with an empty record is an answer; success without a state is not.
  const samba_svcctl_status empty = {};
  ASSERT_TRUE(ParseQueryServiceStatus(StatusAnswer(kOpQueryServiceStatus, empty, 5), &r));
  EXPECT_EQ(r.status, 5u);
  EXPECT_FALSE(ParseQueryServiceStatus(StatusAnswer(kOpQueryServiceStatus, empty, 0), &r));
  samba_svcctl_status unknown = kRunning;
  unknown.state = 8;
  EXPECT_FALSE(ParseQueryServiceStatus(StatusAnswer(kOpQueryServiceStatus, unknown, 0), &r));
}

TEST(SvcctlResponses, ConfigWithItsStrings) {
  ServiceConfigResponse r;
  ASSERT_TRUE(ParseQueryServiceConfig(ConfigAnswer(kRemoteRegistryConfig, 340, 0), &r));
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(r.serviceType, 0x20u);
  EXPECT_EQ(r.startType, ServiceStartType::kDisabled);
  EXPECT_EQ(r.errorControl, 1u);
  EXPECT_EQ(r.binaryPathName, u"C:\\Windows\\system32\\svchost.exe -k localService -p");
  EXPECT_EQ(r.loadOrderGroup, u"");
  EXPECT_EQ(r.dependencies, u"RpcSs");
  EXPECT_EQ(r.serviceStartName, u"NT AUTHORITY\\LocalService");
  EXPECT_EQ(r.displayName, u"Registre \u00E0 distance");
  EXPECT_EQ(r.bytesNeeded, 340u);

  // Null strings and every start type.
  samba_svcctl_config bare = {0x10, 0, 0, nullptr, nullptr, 3, nullptr, nullptr, "X"};
  for (std::uint32_t type = 0; type <= 4; ++type) {
    bare.start_type = type;
    ASSERT_TRUE(ParseQueryServiceConfig(ConfigAnswer(bare, 0, 0), &r)) << type;
    EXPECT_EQ(static_cast<std::uint32_t>(r.startType), type);
    EXPECT_EQ(r.tagId, 3u);
    EXPECT_TRUE(r.binaryPathName.empty());
    EXPECT_EQ(r.displayName, u"X");
  }
  bare.start_type = 5;
  EXPECT_FALSE(ParseQueryServiceConfig(ConfigAnswer(bare, 0, 0), &r));
}

TEST(SvcctlResponses, ConfigBufferTooSmall) {
  const samba_svcctl_config empty = {};
  ServiceConfigResponse r;
  ASSERT_TRUE(ParseQueryServiceConfig(ConfigAnswer(empty, 352, kErrorInsufficientBuffer), &r));
  EXPECT_EQ(r.status, kErrorInsufficientBuffer);
  EXPECT_EQ(r.bytesNeeded, 352u);
  EXPECT_TRUE(r.displayName.empty());
}

TEST(SvcctlResponses, ChangeAndStartAnswers) {
  std::uint32_t status = 99;
  SambaStub samba;
  ASSERT_EQ(samba_svcctl_change_config_response(nullptr, 0, samba.get()), 0);
  ASSERT_TRUE(ParseChangeServiceConfig(samba.bytes(), &status));
  EXPECT_EQ(status, 0u);
  const std::uint32_t tag = 7;
  ASSERT_EQ(samba_svcctl_change_config_response(&tag, 1072, samba.get()), 0);
  ASSERT_TRUE(ParseChangeServiceConfig(samba.bytes(), &status));
  EXPECT_EQ(status, 1072u);

  ASSERT_EQ(samba_svcctl_start_response(1058, samba.get()), 0);
  ASSERT_TRUE(ParseStartService(samba.bytes(), &status));
  EXPECT_EQ(status, 1058u);
  ASSERT_EQ(samba_svcctl_start_response(0, samba.get()), 0);
  ASSERT_TRUE(ParseStartService(samba.bytes(), &status));
  EXPECT_EQ(status, 0u);
}

std::vector<Answer> EveryKindOfAnswer() {
  std::vector<Answer> answers;
  const auto handle = [](std::span<const std::uint8_t> b) {
    HandleResponse r;
    return ParseOpenService(b, &r);
  };
  const auto status = [](std::span<const std::uint8_t> b) {
    ServiceStatusResponse r;
    return ParseQueryServiceStatus(b, &r);
  };
  const auto config = [](std::span<const std::uint8_t> b) {
    ServiceConfigResponse r;
    return ParseQueryServiceConfig(b, &r);
  };
  const auto change = [](std::span<const std::uint8_t> b) {
    std::uint32_t s;
    return ParseChangeServiceConfig(b, &s);
  };
  const auto start = [](std::span<const std::uint8_t> b) {
    std::uint32_t s;
    return ParseStartService(b, &s);
  };
  answers.push_back({"open", HandleAnswer(kOpOpenService, SampleHandle(), 0), handle});
  answers.push_back({"status", StatusAnswer(kOpQueryServiceStatus, kRunning, 0), status});
  answers.push_back({"config", ConfigAnswer(kRemoteRegistryConfig, 340, 0), config});
  answers.push_back({"config too small",
                     ConfigAnswer(samba_svcctl_config{}, 352, kErrorInsufficientBuffer), config});
  SambaStub samba;
  const std::uint32_t tag = 7;
  samba_svcctl_change_config_response(&tag, 0, samba.get());
  answers.push_back({"change", samba.bytes(), change});
  samba_svcctl_start_response(0, samba.get());
  answers.push_back({"start", samba.bytes(), start});
  return answers;
}

// Every cut-short answer and every answer with a byte too many is refused.
TEST(SvcctlResponses, TruncatedOrOverlongAnswersAreRefused) {
  for (const Answer& answer : EveryKindOfAnswer()) {
    ASSERT_TRUE(answer.parse(answer.bytes)) << answer.what;
    for (std::size_t n = 0; n < answer.bytes.size(); ++n) {
      EXPECT_FALSE(answer.parse(Bytes(answer.bytes.begin(), answer.bytes.begin() + n)))
          << answer.what << " cut to " << n;
    }
    Bytes longer = answer.bytes;
    longer.push_back(0);
    EXPECT_FALSE(answer.parse(longer)) << answer.what;
  }
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(SvcctlResponses, ConfigWithInconsistentCountsIsRefused) {
  const Bytes good = ConfigAnswer(kRemoteRegistryConfig, 340, 0);
  ServiceConfigResponse r;
  ASSERT_TRUE(ParseQueryServiceConfig(good, &r));
  // The binary path's counts follow the 36-byte fixed part.
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"huge actual count", [](Bytes& b) { PutU32(b, 44, 0xFFFFFFF0); }},
      {"actual count past the maximum", [](Bytes& b) { PutU32(b, 36, 10); }},
      {"maximum over the bound",
       [](Bytes& b) {
         PutU32(b, 36, kMaxServiceConfigBytes + 1);
         PutU32(b, 44, kMaxServiceConfigBytes + 1);
       }},
      {"non-zero offset", [](Bytes& b) { PutU32(b, 40, 1); }},
      {"a string sent without its pointer", [](Bytes& b) { PutU32(b, 12, 0); }},
  };
  for (const Case& c : cases) {
    Bytes answer = good;
    c.damage(answer);
    EXPECT_FALSE(ParseQueryServiceConfig(answer, &r)) << c.what;
  }
}

// An answer to the values of one key asked together, as a server writes it:
// the entries, the names said back, the buffer (with what fits in it), the
// size it needs, the status.
Bytes MultipleValuesAnswer(const std::vector<std::u16string>& names,
                           const std::vector<winreg::MultipleValue>& values,
                           std::uint32_t offered) {
  ndr::Writer w;
  const auto count = static_cast<std::uint32_t>(names.size());
  Bytes data;
  w.U32(count);
  w.U32(0);
  w.U32(count);
  std::uint32_t referent = 0x20000;
  const auto nextReferent = [&referent] { return std::exchange(referent, referent + 4); };
  for (const winreg::MultipleValue& value : values) {
    w.U32(nextReferent());
    w.U32(static_cast<std::uint32_t>(value.data.size()));
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.U32(value.type);
    data.insert(data.end(), value.data.begin(), value.data.end());
  }
  for (const std::u16string& name : names) {
    const auto bytes = static_cast<std::uint16_t>(2 * (name.size() + 1));
    w.Align(4);
    w.U16(bytes);
    w.U16(bytes);
    w.U32(nextReferent());
    w.U32(bytes / 2u);
    w.U32(0);
    w.U32(bytes / 2u);
    for (char16_t c : name + u'\0') w.U16(static_cast<std::uint16_t>(c));
  }
  w.U32(nextReferent());
  w.U32(offered);
  w.U32(0);
  w.U32(offered);
  data.resize(offered);  // the rest of the buffer offered, as it came in
  w.Append(data);
  return w.Take();
}

TEST(WinregRequests, ValuesOfAKeyTogetherAsSambaReadsAndWritesThem) {
  const std::vector<std::string_view> names = {"Mfg", "DeviceDesc", "Class", "HardwareID"};
  winreg::KeyHandle key;
  key.bytes = SampleHandle().bytes;
  Bytes request;
  ASSERT_TRUE(winreg::EncodeQueryMultipleValues(key, names, 64, &request));
  // Answered: the four values in one buffer, the rest of it zeros.
  const std::vector<winreg::MultipleValue> values = {{1, {'(', 0, 'S', 0, 0, 0}},
                                                     {1, {'P', 0, 0, 0}},
                                                     {1, {'M', 0, 0, 0}},
                                                     {7, {'M', 0, 'O', 0, 0, 0, 0, 0}}};
  ndr::Writer answer;
  answer.Append(MultipleValuesAnswer({u"Mfg", u"DeviceDesc", u"Class", u"HardwareID"}, values, 64));
  answer.U32(22);  // needed
  answer.U32(0);   // status
  const Bytes response = answer.Take();

  SambaStub sambaRequest, sambaResponse;
  ASSERT_EQ(samba_winreg_reencode(winreg::kOpQueryMultipleValues2, request.data(), request.size(),
                                  response.data(), response.size(), sambaRequest.get(),
                                  sambaResponse.get()),
            0);
  EXPECT_EQ(request, sambaRequest.bytes());
  EXPECT_EQ(response, sambaResponse.bytes());

  winreg::QueryMultipleValuesResponse parsed;
  ASSERT_TRUE(winreg::ParseQueryMultipleValues(response, names.size(), &parsed));
  EXPECT_EQ(parsed.status, 0u);
  EXPECT_EQ(parsed.neededSize, 22u);
  ASSERT_EQ(parsed.values.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(parsed.values[i].type, values[i].type) << i;
    EXPECT_EQ(parsed.values[i].data, values[i].data) << i;
  }
  // An entry that points past the buffer, or an answer for other names, is refused.
  Bytes pastEnd = response;
  pastEnd[12 + 2 * 16 + 8] = 0x70;  // the offset of the third value
  EXPECT_FALSE(winreg::ParseQueryMultipleValues(pastEnd, names.size(), &parsed));
  EXPECT_FALSE(winreg::ParseQueryMultipleValues(response, names.size() - 1, &parsed));

  // Too small a buffer: the size it needs, no values.
  ndr::Writer tooSmall;
  tooSmall.Append(
      MultipleValuesAnswer({u"Mfg", u"DeviceDesc", u"Class", u"HardwareID"}, values, 8));
  tooSmall.U32(22);
  tooSmall.U32(234);  // ERROR_MORE_DATA
  ASSERT_TRUE(winreg::ParseQueryMultipleValues(tooSmall.Take(), names.size(), &parsed));
  EXPECT_EQ(parsed.status, 234u);
  EXPECT_EQ(parsed.neededSize, 22u);
  EXPECT_TRUE(parsed.values.empty());
}

}  // namespace
}  // namespace glimmora::svcctl

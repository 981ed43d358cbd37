#include "inventory/rpc/registry_snapshot.h"

#include <algorithm>

#include "inventory/ansi_conversion.h"
#include "inventory/registry/registry_access.h"
#include "inventory/registry/registry_scan.h"

namespace glimmora {

long OpenKeyAnswer(const WinregCall& call, winreg::KeyHandle* handle) {
  if (call.transport != kErrorSuccess) return call.transport;
  winreg::HandleResponse opened;
  if (!winreg::ParseOpenKey(call.response, &opened)) return kErrorBadStubData;
  if (opened.status != 0) return static_cast<long>(opened.status);
  *handle = opened.handle;
  return kErrorSuccess;
}

long EnumKeyAnswer(const WinregCall& call, std::string* name) {
  if (call.transport != kErrorSuccess) return call.transport;
  winreg::EnumKeyResponse answer;
  if (!winreg::ParseEnumKey(call.response, &answer)) return kErrorBadStubData;
  if (answer.status != 0) return static_cast<long>(answer.status);
  std::string text = AnsiFromUtf16(answer.nameUtf16);
  if (text.size() > kMaxKeyNameLength) return kErrorMoreData;
  *name = std::move(text);
  return kErrorSuccess;
}

long QueryValueAnswer(const WinregCall& call, std::uint32_t bufferBytes, std::uint32_t* retryBytes,
                      std::uint32_t* type, std::vector<std::uint8_t>* data) {
  if (call.transport != kErrorSuccess) return call.transport;
  winreg::QueryValueResponse answer;
  if (!winreg::ParseQueryValue(call.response, &answer)) return kErrorBadStubData;
  if (answer.status == static_cast<std::uint32_t>(kErrorMoreData)) {
    // The size only grows, so asking again ends.
    if (answer.neededSize <= bufferBytes || answer.neededSize > winreg::kMaxValueDataBytes) {
      return kErrorBadStubData;
    }
    *retryBytes = answer.neededSize;
    return kQueryAgain;
  }
  if (answer.status != 0) return static_cast<long>(answer.status);
  *type = answer.type;
  *data = winreg::ValueDataToAnsi(answer.type, answer.data);
  return kErrorSuccess;
}

namespace {

class ReadAhead {
 public:
  ReadAhead(WinregWaves& waves, const winreg::KeyHandle& root, std::size_t maxSubkeys,
            bool withPresence)
      : waves_(waves), root_(root), maxSubkeys_(maxSubkeys), withPresence_(withPresence) {}

  RegistrySnapshot Run() {
    const std::vector<std::size_t> display = Open({kDisplayEnumPath});
    if (display.empty()) return std::move(snapshot_);
    Enumerate(display);

    std::vector<std::string> devicePaths;
    for (const std::string& device : Key(display[0]).subkeys)
      devicePaths.push_back(kDisplayEnumPath + device);
    // Two enumerations a device, and at least two opens and two queries an
    // instance: the waves from here on are about this wide.
    waves_.Widen(2 * devicePaths.size());
    const std::vector<std::size_t> devices = Open(devicePaths);
    Enumerate(devices);

    // An instance, its Device Parameters and, when asked for, its Control key
    // (whether the monitor is there now) are all opened from the root, so
    // they go in one wave; the others are asked for only after the instance
    // opened, and then their answers are here.
    std::vector<std::string> instancePaths;
    std::vector<std::string> parametersPaths;
    for (std::size_t device : devices) {
      const std::string& devicePath = PathOf(device);
      for (const std::string& instance : Key(device).subkeys) {
        const std::string path = devicePath + "\\" + instance;
        instancePaths.push_back(path);
        parametersPaths.push_back(path + "\\" + kDeviceParametersKey);
      }
    }
    std::vector<std::string> opens = instancePaths;
    opens.insert(opens.end(), parametersPaths.begin(), parametersPaths.end());
    if (withPresence_) {
      for (const std::string& path : instancePaths) opens.push_back(path + "\\" + kControlKey);
    }
    Open(opens);
    if (snapshot_.breakCode != 0) return std::move(snapshot_);

    // An instance's values come in one call, its EDID in another (another key).
    std::vector<Query> queries;
    for (std::size_t i = 0; i < instancePaths.size(); ++i) {
      const auto instance = snapshot_.opens.find(instancePaths[i]);
      if (instance == snapshot_.opens.end() || instance->second.code != kErrorSuccess) continue;
      queries.push_back({instance->second.key, {}, kFirstMultipleValuesBytes});
      const auto parameters = snapshot_.opens.find(parametersPaths[i]);
      if (parameters != snapshot_.opens.end() && parameters->second.code == kErrorSuccess)
        queries.push_back({parameters->second.key, kEdidValueName, kFirstValueBufferBytes});
    }
    QueryValues(std::move(queries));
    return std::move(snapshot_);
  }

 private:
  // One value, or (no name) every one of kInstanceValueNames at once.
  struct Query {
    std::size_t key;
    std::string name;
    std::uint32_t bufferBytes;
  };

  // The instance values one at a time: after a server that does not take
  // them together, or a key where one of them is missing or refused, each
  // gets its own answer.
  static void EachInstanceValue(std::size_t key, std::vector<Query>* queries) {
    for (const char* name : kInstanceValueNames)
      queries->push_back({key, name, kFirstValueBufferBytes});
  }

  SnapshotKey& Key(std::size_t index) { return snapshot_.keys[index]; }
  const std::string& PathOf(std::size_t key) const { return paths_[key]; }

  // A call whose connection broke ends the read-ahead: what was not read
  // reads as its failure.
  bool Broken(const WinregCall& call) {
    if (!call.broken) return false;
    if (snapshot_.breakCode == 0) snapshot_.breakCode = call.transport;
    return true;
  }

  // Opens the paths below the root; gives the keys opened, in the order asked.
  std::vector<std::size_t> Open(const std::vector<std::string>& paths) {
    std::vector<std::size_t> opened;
    if (snapshot_.breakCode != 0 || paths.empty()) return opened;
    std::vector<WinregCall> calls;
    std::vector<const std::string*> asked;
    for (const std::string& path : paths) {
      if (snapshot_.opens.count(path) != 0) continue;  // the same path twice is one key
      WinregCall call;
      call.opnum = winreg::kOpOpenKey;
      if (!winreg::EncodeOpenKey(root_, path, 0, kKeyRead, &call.request)) {
        snapshot_.opens[path] = SnapshotOpen{kErrorInvalidName, 0};
        continue;
      }
      calls.push_back(std::move(call));
      asked.push_back(&path);
    }
    waves_.Run(calls);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (Broken(calls[i])) continue;
      winreg::KeyHandle handle;
      SnapshotOpen open{OpenKeyAnswer(calls[i], &handle), 0};
      if (open.code == kErrorSuccess) {
        open.key = snapshot_.keys.size();
        snapshot_.keys.emplace_back().handle = handle;
        paths_.push_back(*asked[i]);
        opened.push_back(open.key);
      }
      snapshot_.opens[*asked[i]] = open;
    }
    return opened;
  }

  // Lists the subkeys of each key, as many indices at once as the pipes
  // carry, until each list has ended (or breaks off at maxSubkeys).
  void Enumerate(const std::vector<std::size_t>& keys) {
    std::vector<std::size_t> open = keys;
    while (!open.empty() && snapshot_.breakCode == 0) {
      const std::size_t width = std::max<std::size_t>(1, waves_.Width());
      // A device has one or two instances as a rule: two indices each (the
      // second is often the end), more when the pipes leave room in the wave.
      const std::size_t perKey = std::max<std::size_t>(2, width / open.size());
      std::vector<WinregCall> calls;
      for (std::size_t key : open) {
        const std::size_t first = Key(key).subkeys.size();
        for (std::size_t index = first; index < first + perKey; ++index) {
          WinregCall call;
          call.opnum = winreg::kOpEnumKey;
          call.request = winreg::EncodeEnumKey(Key(key).handle, static_cast<std::uint32_t>(index));
          calls.push_back(std::move(call));
        }
      }
      waves_.Run(calls);
      std::vector<std::size_t> still;
      std::size_t next = 0;
      for (std::size_t key : open) {
        SnapshotKey& entry = Key(key);
        bool ended = false;
        for (std::size_t i = 0; i < perKey; ++i) {
          const WinregCall& call = calls[next + i];
          if (ended) continue;
          // Answers after a broken one are not the scan's: it would have stopped.
          if (Broken(call)) {
            ended = true;
            continue;
          }
          std::string name;
          const long code = EnumKeyAnswer(call, &name);
          if (code != kErrorSuccess) {
            entry.enumEnd = code;
            entry.enumComplete = true;
            ended = true;
          } else {
            entry.subkeys.push_back(std::move(name));
          }
        }
        next += perKey;
        if (!ended && entry.subkeys.size() < maxSubkeys_) still.push_back(key);
      }
      open = std::move(still);
    }
  }

  void QueryValues(std::vector<Query> queries) {
    static const std::vector<std::string_view> kNames(std::begin(kInstanceValueNames),
                                                      std::end(kInstanceValueNames));
    while (!queries.empty() && snapshot_.breakCode == 0) {
      if (!multipleValues_) {
        std::vector<Query> each;
        for (Query& query : queries) {
          if (query.name.empty()) {
            EachInstanceValue(query.key, &each);
          } else {
            each.push_back(std::move(query));
          }
        }
        queries = std::move(each);
      }
      std::vector<WinregCall> calls;
      std::vector<Query> asked;
      for (Query& query : queries) {
        WinregCall call;
        const winreg::KeyHandle& handle = Key(query.key).handle;
        if (query.name.empty()) {
          call.opnum = winreg::kOpQueryMultipleValues2;
          winreg::EncodeQueryMultipleValues(handle, kNames, query.bufferBytes, &call.request);
        } else {
          call.opnum = winreg::kOpQueryValue;
          if (!winreg::EncodeQueryValue(handle, query.name, query.bufferBytes, &call.request)) {
            Key(query.key).values[query.name] = SnapshotValue{kErrorInvalidName, 0, {}};
            continue;
          }
        }
        calls.push_back(std::move(call));
        asked.push_back(std::move(query));
      }
      waves_.Run(calls);
      std::vector<Query> again;
      for (std::size_t i = 0; i < calls.size(); ++i) {
        if (asked[i].name.empty()) {
          AnswerMultiple(calls[i], asked[i], &again);
          continue;
        }
        if (Broken(calls[i])) continue;
        SnapshotValue value;
        std::uint32_t retryBytes = 0;
        value.code =
            QueryValueAnswer(calls[i], asked[i].bufferBytes, &retryBytes, &value.type, &value.data);
        if (value.code == kQueryAgain) {
          again.push_back({asked[i].key, asked[i].name, retryBytes});
          continue;
        }
        Key(asked[i].key).values[asked[i].name] = std::move(value);
      }
      queries = std::move(again);
    }
  }

  void AnswerMultiple(const WinregCall& call, const Query& asked, std::vector<Query>* again) {
    if (call.refused) {
      multipleValues_ = false;  // not implemented here: not asked again
      return EachInstanceValue(asked.key, again);
    }
    if (Broken(call)) return;
    winreg::QueryMultipleValuesResponse answer;
    const bool parsed =
        call.transport == kErrorSuccess &&
        winreg::ParseQueryMultipleValues(call.response, std::size(kInstanceValueNames), &answer);
    if (parsed && answer.status == 0) {
      SnapshotKey& key = Key(asked.key);
      for (std::size_t n = 0; n < answer.values.size(); ++n) {
        const winreg::MultipleValue& value = answer.values[n];
        key.values[kInstanceValueNames[n]] = SnapshotValue{
            kErrorSuccess, value.type, winreg::ValueDataToAnsi(value.type, value.data)};
      }
      return;
    }
    // The size only grows, so asking again ends.
    if (parsed && answer.status == static_cast<std::uint32_t>(kErrorMoreData) &&
        answer.neededSize > asked.bufferBytes && answer.neededSize <= winreg::kMaxValueDataBytes) {
      again->push_back({asked.key, {}, answer.neededSize});
      return;
    }
    EachInstanceValue(asked.key, again);
  }

  WinregWaves& waves_;
  const winreg::KeyHandle root_;
  const std::size_t maxSubkeys_;
  const bool withPresence_;
  bool multipleValues_ = true;
  RegistrySnapshot snapshot_;
  std::vector<std::string> paths_;  // by key
};

}  // namespace

RegistrySnapshot ReadDisplaySubtree(WinregWaves& waves, const winreg::KeyHandle& root,
                                    std::size_t maxSubkeys, bool withPresence) {
  return ReadAhead(waves, root, maxSubkeys, withPresence).Run();
}

}  // namespace glimmora

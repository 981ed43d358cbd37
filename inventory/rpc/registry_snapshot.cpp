#include "inventory/rpc/registry_snapshot.h"

#include <algorithm>
#include <deque>
#include <optional>

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
    // (whether the monitor is there now) are all opened from the root; an
    // instance's values are read in one call once it opened, its EDID in
    // another once its Device Parameters did.
    std::vector<PendingOpen> instances, parameters, controls;
    for (std::size_t device : devices) {
      const std::string& devicePath = PathOf(device);
      for (const std::string& instance : Key(device).subkeys) {
        const std::string path = devicePath + "\\" + instance;
        instances.push_back({path, Query{0, {}, kFirstMultipleValuesBytes}});
        parameters.push_back(
            {path + "\\" + kDeviceParametersKey, Query{0, kEdidValueName, kFirstValueBufferBytes}});
        if (withPresence_) controls.push_back({path + "\\" + kControlKey, std::nullopt});
      }
    }
    std::deque<PendingOpen> opens(instances.begin(), instances.end());
    opens.insert(opens.end(), parameters.begin(), parameters.end());
    opens.insert(opens.end(), controls.begin(), controls.end());
    OpenAndRead(std::move(opens));
    return std::move(snapshot_);
  }

 private:
  // One value, or (no name) every one of kInstanceValueNames at once.
  struct Query {
    std::size_t key;
    std::string name;
    std::uint32_t bufferBytes;
  };
  // A key to open below the root, and the read it is opened for.
  struct PendingOpen {
    std::string path;
    std::optional<Query> then;  // its key set once the open is answered
  };

  // The instance values one at a time: after a server that does not take
  // them together, or a key where one of them is missing or refused, each
  // gets its own answer.
  static void EachInstanceValue(std::size_t key, std::deque<Query>* queries) {
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

  // Opens and reads as one stream of waves, a read in the wave after its key
  // opened. A wave is whole rounds of the pipes, opens first: calls that
  // would make a part round wait for the reads the wave makes ready, and so
  // share a round with them.
  void OpenAndRead(std::deque<PendingOpen> opens) {
    std::deque<Query> reads;
    while ((!opens.empty() || !reads.empty()) && snapshot_.breakCode == 0) {
      if (!multipleValues_) reads = OneByOne(std::move(reads));
      const std::size_t ready = opens.size() + reads.size();
      const std::size_t width = std::max<std::size_t>(1, waves_.Width());
      const std::size_t take = ready <= width || opens.empty() ? ready : ready / width * width;
      std::vector<WinregCall> calls;
      std::vector<PendingOpen> opening;
      std::vector<Query> reading;
      while (calls.size() < take && !opens.empty()) {
        PendingOpen open = std::move(opens.front());
        opens.pop_front();
        WinregCall call;
        call.opnum = winreg::kOpOpenKey;
        if (!winreg::EncodeOpenKey(root_, open.path, 0, kKeyRead, &call.request)) {
          snapshot_.opens[open.path] = SnapshotOpen{kErrorInvalidName, 0};
          continue;
        }
        calls.push_back(std::move(call));
        opening.push_back(std::move(open));
      }
      while (calls.size() < take && !reads.empty()) {
        Query read = std::move(reads.front());
        reads.pop_front();
        WinregCall call;
        if (!EncodeRead(read, &call)) continue;
        calls.push_back(std::move(call));
        reading.push_back(std::move(read));
      }
      waves_.Run(calls);
      for (std::size_t i = 0; i < opening.size(); ++i) {
        const std::optional<std::size_t> key = AnswerOpen(calls[i], opening[i].path);
        if (key && opening[i].then) {
          opening[i].then->key = *key;
          reads.push_back(std::move(*opening[i].then));
        }
      }
      for (std::size_t i = 0; i < reading.size(); ++i)
        AnswerRead(calls[opening.size() + i], reading[i], &reads);
    }
  }

  // The instance values of each read of them together asked one by one.
  static std::deque<Query> OneByOne(std::deque<Query> reads) {
    std::deque<Query> each;
    for (Query& read : reads) {
      if (!read.name.empty()) {
        each.push_back(std::move(read));
        continue;
      }
      EachInstanceValue(read.key, &each);
    }
    return each;
  }

  bool EncodeRead(const Query& read, WinregCall* call) {
    static const std::vector<std::string_view> kNames(std::begin(kInstanceValueNames),
                                                      std::end(kInstanceValueNames));
    const winreg::KeyHandle& handle = Key(read.key).handle;
    if (read.name.empty()) {
      call->opnum = winreg::kOpQueryMultipleValues2;
      return winreg::EncodeQueryMultipleValues(handle, kNames, read.bufferBytes, &call->request);
    }
    call->opnum = winreg::kOpQueryValue;
    if (winreg::EncodeQueryValue(handle, read.name, read.bufferBytes, &call->request)) return true;
    Key(read.key).values[read.name] = SnapshotValue{kErrorInvalidName, 0, {}};
    return false;
  }

  // The key an open gave, recorded under its path.
  std::optional<std::size_t> AnswerOpen(const WinregCall& call, const std::string& path) {
    if (Broken(call)) return std::nullopt;
    winreg::KeyHandle handle;
    SnapshotOpen open{OpenKeyAnswer(call, &handle), 0};
    std::optional<std::size_t> key;
    if (open.code == kErrorSuccess) {
      open.key = snapshot_.keys.size();
      snapshot_.keys.emplace_back().handle = handle;
      paths_.push_back(path);
      key = open.key;
    }
    snapshot_.opens[path] = open;
    return key;
  }

  // A read's answer kept; a value longer than the buffer asked again.
  void AnswerRead(const WinregCall& call, const Query& read, std::deque<Query>* again) {
    if (read.name.empty()) return AnswerMultiple(call, read, again);
    if (Broken(call)) return;
    SnapshotValue value;
    std::uint32_t retryBytes = 0;
    value.code = QueryValueAnswer(call, read.bufferBytes, &retryBytes, &value.type, &value.data);
    if (value.code == kQueryAgain) {
      again->push_back({read.key, read.name, retryBytes});
      return;
    }
    Key(read.key).values[read.name] = std::move(value);
  }

  void AnswerMultiple(const WinregCall& call, const Query& asked, std::deque<Query>* again) {
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

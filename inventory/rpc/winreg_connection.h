#pragma once
// Linux: one connection to a workstation's registry, its winreg pipes and the
// display subtree read ahead over them. Calls are made one at a time, one by
// one or as a wave over every pipe; once a call comes to no answer the
// connection counts as lost and every later call fails with that code.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/deadline.h"
#include "inventory/registry/registry_access.h"
#include "inventory/rpc/registry_snapshot.h"
#include "inventory/rpc/smb_session.h"
#include "inventory/rpc/winreg_messages.h"

namespace glimmora {

class WinregConnection final : public WinregWaves {
 public:
  // `deadline` is the examination's, which every call and wave keeps within.
  WinregConnection(UniquePipe pipe, unsigned requestTimeoutS, Deadline deadline);

  // One request and its answer; a transport failure gives its Windows code.
  long Call(std::uint16_t opnum, const winreg::Bytes& request, winreg::Bytes* response);
  void Run(std::vector<WinregCall>& calls) override;
  std::size_t Width() override;

  void Widen(std::size_t width) override;

  // The read-ahead's pipes: up to `maxPipes` with the first, the extra ones
  // opening in the background to the pipe named (empty: the first one's);
  // `first` of them start now, the rest as Widen asks.
  void StartExtraPipes(std::size_t first, std::size_t maxPipes, std::string pipeName);

  const Deadline& deadline() const { return deadline_; }
  // Whether a call came to no answer; *code is the failure every call now gives.
  bool Lost(long* code) const;
  void MarkLost(long code);
  bool lost() const { return lost_.load(); }

  // The display subtree read ahead, once; null until then.
  std::shared_ptr<const RegistrySnapshot> Snapshot() const;
  void KeepSnapshot(std::shared_ptr<const RegistrySnapshot> snapshot);

  // Closes the pipes; every call after it fails as on an invalid handle.
  void Close();

 private:
  UniquePipe pipe_;
  const unsigned requestTimeoutS_;
  const Deadline deadline_;
  std::mutex callMutex_;       // one call or wave at a time on the pipes' event context
  bool closed_ = false;        // guarded by callMutex_
  std::size_t maxPipes_ = 1;   // guarded by callMutex_
  std::string extraPipeName_;  // guarded by callMutex_
  // A call came to no answer (the server went away, the link broke, the
  // time-out passed): what fails now says nothing about the key asked for.
  std::atomic<bool> lost_{false};
  std::atomic<long> lostCode_{kErrorInvalidHandle};
  mutable std::mutex snapshotMutex_;
  std::shared_ptr<const RegistrySnapshot> snapshot_;  // guarded by snapshotMutex_
};

}  // namespace glimmora

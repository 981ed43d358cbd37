#pragma once
// An output that takes a fixed number of bytes in all, then nothing: a disk
// that fills up part-way through a header or a batch, giving `reason` (as the
// system would) once a write fell short.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "batch/output_file.h"

namespace glimmora::testing {

class LimitedOutput : public OutputStream {
 public:
  LimitedOutput(std::unique_ptr<OutputStream> file, std::size_t limit, std::string reason = {})
      : file_(std::move(file)), limit_(limit), reason_(std::move(reason)) {}
  std::size_t Write(std::string_view bytes) override {
    const std::size_t accepted = bytes.size() < limit_ ? bytes.size() : limit_;
    limit_ -= accepted;
    full_ = full_ || accepted < bytes.size();
    return file_->Write(bytes.substr(0, accepted));
  }
  bool Close() override { return file_->Close(); }
  std::string FailureReason() const override { return full_ ? reason_ : file_->FailureReason(); }

 private:
  std::unique_ptr<OutputStream> file_;
  std::size_t limit_;
  std::string reason_;
  bool full_ = false;
};

}  // namespace glimmora::testing

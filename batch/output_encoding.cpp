#include "batch/output_encoding.h"

#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

class EncodingStream : public OutputStream {
 public:
  EncodingStream(std::unique_ptr<OutputStream> output, OutputEncoding encoding, bool atStart)
      : output_(std::move(output)), encoding_(encoding), markPending_(atStart) {}

  std::size_t Write(std::string_view bytes) override {
    std::string encoded;
    if (markPending_) encoded = EncodingStart(encoding_);
    encoded += EncodeText(encoding_, bytes);
    markPending_ = false;
    return output_->Write(encoded) == encoded.size() ? bytes.size() : 0;
  }
  bool Close() override { return output_->Close(); }
  std::string FailureReason() const override { return output_->FailureReason(); }

 private:
  std::unique_ptr<OutputStream> output_;
  const OutputEncoding encoding_;
  bool markPending_;
};

}  // namespace

bool ParseOutputEncoding(std::string_view name, OutputEncoding* encoding) {
  if (name == "ansi")
    *encoding = OutputEncoding::kAnsi;
  else if (name == "utf-8")
    *encoding = OutputEncoding::kUtf8;
  else if (name == "utf-8-bom")
    *encoding = OutputEncoding::kUtf8Bom;
  else
    return false;
  return true;
}

std::string EncodeText(OutputEncoding encoding, std::string_view text) {
  if (encoding == OutputEncoding::kAnsi) return std::string(text);
  // Off Windows the program's text is bytes as they came (an EDID name, the
  // Latin-1 of a REGEDIT4 export); a UTF-8 file holds U+FFFD for what is no UTF-8.
  return ValidUtf8(Utf8FromAnsi(text));
}

std::string_view EncodingStart(OutputEncoding encoding) {
  return encoding == OutputEncoding::kUtf8Bom ? kUtf8ByteOrderMark : std::string_view();
}

std::unique_ptr<OutputStream> EncodingOutput(std::unique_ptr<OutputStream> output,
                                             OutputEncoding encoding, bool atStart) {
  if (!output) return nullptr;
  return std::make_unique<EncodingStream>(std::move(output), encoding, atStart);
}

}  // namespace glimmora

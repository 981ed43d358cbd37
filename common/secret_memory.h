#pragma once
// Memory that holds a password: overwritten when done with, in a way the
// compiler cannot leave out, and kept out of core dumps.

#include <cstddef>
#include <string>

namespace glimmora {

// Overwrites `size` bytes at `data` with zeros; never optimised away.
void WipeMemory(void* data, std::size_t size);

// Overwrites the whole buffer of *text, up to its capacity, and empties it.
void WipeString(std::string* text);

// A std::string for a password: its buffer is wiped when it is destroyed.
class SecretString : public std::string {
 public:
  SecretString() = default;
  SecretString(std::string text) : std::string(std::move(text)) {}  // NOLINT: implicit
  // Copies, not moves: a moved-from buffer would be freed unwiped.
  SecretString(const SecretString&) = default;
  SecretString& operator=(const SecretString& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  SecretString& operator=(const std::string& text) {
    Assign(text);
    return *this;
  }
  ~SecretString() { WipeString(this); }

 private:
  // The old text is wiped first, in case the buffer is reallocated.
  void Assign(const std::string& text) {
    if (&text == static_cast<const std::string*>(this)) return;
    WipeString(this);
    std::string::operator=(text);
  }
};

// From now on the process leaves no core dump and cannot be traced by other
// processes of its user (Linux: not dumpable); nothing elsewhere.
void KeepOutOfCoreDumps();

}  // namespace glimmora

#pragma once
// The program's error class: every failure the program raises on purpose is a
// kvt::Error, so that the handlers that catch "errors of the program's error
// class" catch exactly these.
#include <stdexcept>
#include <string>

namespace kvt {

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Raised by str2int for a text that is not a 32-bit whole number.
class ConversionError : public Error {
  public:
    using Error::Error;
};

// Raised where a text must be written in the workstation's code page and a
// character of it has no place there.
class CodePageError : public Error {
  public:
    using Error::Error;
};

// The host application is gone or no longer answers (its process ended or
// crashed, its call was cancelled past the time limit): unlike a failed host
// call, nothing read from it since can be trusted, and no later call can
// succeed. It ends the run at the patient being read, as a kill would.
class HostPerso : public Error {
  public:
    using Error::Error;
};

}  // namespace kvt

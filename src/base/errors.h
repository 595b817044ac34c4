#pragma once
// The error kinds of the service. Every error carries a kind name and a message, because
// the log lines show both ("ERRO no Timer: " + kind + " - " + message).

#include <stdexcept>
#include <string>

namespace zv {

class Exception : public std::runtime_error {
 public:
  Exception(std::string kind, const std::string& message)
      : std::runtime_error(message), kind_(std::move(kind)) {}
  const std::string& kind() const noexcept { return kind_; }

 private:
  std::string kind_;
};

#define ZV_DECLARE_ERROR(Name)                                               \
  class Name : public Exception {                                            \
   public:                                                                   \
    explicit Name(const std::string& message) : Exception(#Name, message) {} \
  };

// Platform requests that got no usable answer.
ZV_DECLARE_ERROR(ERESTException)
// A value that cannot be read as the wanted type.
ZV_DECLARE_ERROR(EConversionError)
// File input and output (the activity log).
ZV_DECLARE_ERROR(EInOutError)
// The store database: connection, statements, fields.
ZV_DECLARE_ERROR(EDatabaseError)
// An index or argument outside its range.
ZV_DECLARE_ERROR(EArgumentOutOfRangeException)
// A JSON document that does not have the expected shape.
ZV_DECLARE_ERROR(EJSONException)
// A part of the service that this build does not contain.
ZV_DECLARE_ERROR(ENotAvailable)

#undef ZV_DECLARE_ERROR

}  // namespace zv

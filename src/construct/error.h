// The one error value of the engine.
//
// Every fallible operation returns `Result<T>`: its value or an `EngineError`. Nothing inside the
// engine throws. An error is a kind (0 to 16) with a kind-specific payload; `display()` renders the
// text the caller sees, and the kind alone decides the Python exception class.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace brackwater::construct {

enum class ErrorKind : uint8_t {
  Config = 0,
  Persistence = 1,
  DataCorruption = 2,
  Parse = 3,
  Execution = 4,
  Cancelled = 5,
  TimedOut = 6,
  ResourceLimit = 7,
  UnknownRole = 8,
  InvalidAppearanceSet = 9,
  UnknownVariable = 10,
  IncompatibleDomains = 11,
  InvalidQueryRecall = 12,
  UnsupportedComparison = 13,
  InvalidParameter = 14,
  Internal = 15,
  LockPoisoned = 16,
};

class EngineError {
 public:
  // One constructor per kind.
  static EngineError config(std::string message);
  static EngineError persistence(std::string message);
  static EngineError data_corruption(std::string message);
  static EngineError parse(std::string message);  // line and column stay absent
  static EngineError execution(std::string message);
  static EngineError cancelled();
  static EngineError timed_out();
  static EngineError resource_limit(std::string_view limit_name, uint64_t maximum);
  static EngineError unknown_role(std::string message);
  static EngineError invalid_appearance_set(std::string message);
  static EngineError unknown_variable(std::string message);
  // Display order is variable first; payload order is (first, second, variable).
  static EngineError incompatible_domains(std::string_view first_domain, std::string_view second_domain,
                                          std::string variable);
  static EngineError invalid_query_recall(std::string message);
  static EngineError unsupported_comparison(std::string message);
  static EngineError invalid_parameter(std::string message);
  static EngineError internal(std::string message);
  static EngineError lock_poisoned();  // "poisoned lock: another task failed inside"

  ErrorKind kind() const { return kind_; }
  // The message of message-carrying kinds; the variable name for `IncompatibleDomains`; empty for
  // `Cancelled`, `TimedOut` and `ResourceLimit`.
  const std::string& message() const { return message_; }
  std::string_view limit_name() const { return first_; }
  uint64_t maximum() const { return maximum_; }
  std::string_view first_domain() const { return first_; }
  std::string_view second_domain() const { return second_; }
  std::optional<uint64_t> line() const { return std::nullopt; }
  std::optional<uint64_t> column() const { return std::nullopt; }

  // The text the caller of the engine sees, e.g. "Execution error: role name cannot be empty".
  std::string display() const;

  bool operator==(const EngineError&) const = default;

 private:
  EngineError(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  ErrorKind kind_;
  std::string message_;
  std::string_view first_;   // `ResourceLimit`: limit name; `IncompatibleDomains`: first domain (static texts)
  std::string_view second_;  // `IncompatibleDomains`: second domain
  uint64_t maximum_ = 0;     // `ResourceLimit`
};

inline constexpr std::string_view kPoisonedLockMessage = "poisoned lock: another task failed inside";

template <class T>
using Result = std::expected<T, EngineError>;

// Shorthand for returning an error from a function that yields Result<T>.
inline std::unexpected<EngineError> fail(EngineError e) { return std::unexpected<EngineError>(std::move(e)); }

}  // namespace brackwater::construct

#include "construct/error.h"

namespace brackwater::construct {

EngineError EngineError::config(std::string m) { return {ErrorKind::Config, std::move(m)}; }
EngineError EngineError::persistence(std::string m) { return {ErrorKind::Persistence, std::move(m)}; }
EngineError EngineError::data_corruption(std::string m) { return {ErrorKind::DataCorruption, std::move(m)}; }
EngineError EngineError::parse(std::string m) { return {ErrorKind::Parse, std::move(m)}; }
EngineError EngineError::execution(std::string m) { return {ErrorKind::Execution, std::move(m)}; }
EngineError EngineError::cancelled() { return {ErrorKind::Cancelled, {}}; }
EngineError EngineError::timed_out() { return {ErrorKind::TimedOut, {}}; }
EngineError EngineError::resource_limit(std::string_view limit_name, uint64_t maximum) {
  EngineError e{ErrorKind::ResourceLimit, {}};
  e.first_ = limit_name;
  e.maximum_ = maximum;
  return e;
}
EngineError EngineError::unknown_role(std::string m) { return {ErrorKind::UnknownRole, std::move(m)}; }
EngineError EngineError::invalid_appearance_set(std::string m) {
  return {ErrorKind::InvalidAppearanceSet, std::move(m)};
}
EngineError EngineError::unknown_variable(std::string m) { return {ErrorKind::UnknownVariable, std::move(m)}; }
EngineError EngineError::incompatible_domains(std::string_view first, std::string_view second, std::string var) {
  EngineError e{ErrorKind::IncompatibleDomains, std::move(var)};
  e.first_ = first;
  e.second_ = second;
  return e;
}
EngineError EngineError::invalid_query_recall(std::string m) {
  return {ErrorKind::InvalidQueryRecall, std::move(m)};
}
EngineError EngineError::unsupported_comparison(std::string m) {
  return {ErrorKind::UnsupportedComparison, std::move(m)};
}
EngineError EngineError::invalid_parameter(std::string m) { return {ErrorKind::InvalidParameter, std::move(m)}; }
EngineError EngineError::internal(std::string m) { return {ErrorKind::Internal, std::move(m)}; }
EngineError EngineError::lock_poisoned() {
  return {ErrorKind::LockPoisoned, std::string(kPoisonedLockMessage)};
}

std::string EngineError::display() const {
  auto prefixed = [this](std::string_view prefix) {
    std::string out;
    out.reserve(prefix.size() + message_.size());
    out.append(prefix).append(message_);
    return out;
  };
  switch (kind_) {
    case ErrorKind::Config: return prefixed("Config error: ");
    case ErrorKind::Persistence: return prefixed("Persistence error: ");
    case ErrorKind::DataCorruption: return prefixed("Data corruption: ");
    case ErrorKind::Parse: return prefixed("Parse error: ");
    case ErrorKind::Execution: return prefixed("Execution error: ");
    case ErrorKind::Cancelled: return "Execution cancelled";
    case ErrorKind::TimedOut: return "Execution timed out";
    case ErrorKind::ResourceLimit: {
      std::string out = "Resource limit exceeded for ";
      out.append(first_).append(": maximum ").append(std::to_string(maximum_));
      return out;
    }
    case ErrorKind::UnknownRole: return prefixed("Unknown role: ");
    case ErrorKind::InvalidAppearanceSet: return prefixed("Invalid appearance set: ");
    case ErrorKind::UnknownVariable: return prefixed("Unknown variable: ");
    case ErrorKind::IncompatibleDomains: {
      std::string out = "Query variable '";
      out.append(message_).append("' has incompatible domains: ").append(first_).append(" and ").append(second_);
      return out;
    }
    case ErrorKind::InvalidQueryRecall: return prefixed("Invalid query recall: ");
    case ErrorKind::UnsupportedComparison: return prefixed("Unsupported comparison: ");
    case ErrorKind::InvalidParameter: return prefixed("Invalid parameter: ");
    case ErrorKind::Internal: return prefixed("Internal invariant violated: ");
    case ErrorKind::LockPoisoned: return prefixed("Lock poisoned: ");
  }
  return prefixed("Internal invariant violated: ");
}

}  // namespace brackwater::construct

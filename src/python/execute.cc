// `_Database.execute_json`: argument conversion in signature order, the checks in their fixed
// order, the script run with the interpreter lock released, and the response envelope.
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "python/arguments.h"
#include "python/boundary.h"
#include "python/database.h"
#include "python/envelope.h"
#include "python/exceptions.h"
#include "python/released.h"
#include "python/time_argument.h"
#include "velquin/execute.h"

namespace brackwater::python {
namespace {

constexpr size_t kKeptResponseBytes = size_t(1) << 20;

// The parameters as the executor takes them; raises ValueError for a kind other than exactly
// "literal" or "time".
bool build_parameter_map(std::vector<ParameterEntry>& entries, velquin::ScriptParameterMap& out) {
  out.reserve(entries.size());
  for (ParameterEntry& entry : entries) {
    velquin::ParameterKind kind;
    if (entry.kind == "literal") {
      kind = velquin::ParameterKind::Literal;
    } else if (entry.kind == "time") {
      kind = velquin::ParameterKind::Time;
    } else {
      std::string message = "parameter '";
      message.append(entry.name).append("' has unsupported kind '").append(entry.kind).append("'");
      raise(PyExc_ValueError, message);
      return false;
    }
    out.insert_or_assign(std::move(entry.name), velquin::ScriptParameter{kind, std::move(entry.token)});
  }
  return true;
}

PyObject* execute_json(DatabaseObject* db, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"script", "parameters", "now", "timeout", "max_rows", nullptr};
  PyObject* script_object = nullptr;
  PyObject* parameters_object = nullptr;
  PyObject* now_object = nullptr;
  PyObject* timeout_object = nullptr;
  PyObject* max_rows_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO:execute_json", const_cast<char**>(keywords),
                                   &script_object, &parameters_object, &now_object, &timeout_object,
                                   &max_rows_object)) {
    return nullptr;
  }
  SharedBorrow borrow(db->borrow);
  if (!borrow.held()) {
    raise_already_mutably_borrowed();
    return nullptr;
  }

  TextArgument script;
  std::optional<std::vector<ParameterEntry>> parameters;
  std::optional<std::string> now;
  std::optional<double> timeout;
  std::optional<uint64_t> max_rows;
  if (!convert_text(script_object, "script", script) ||
      !convert_optional_parameters(parameters_object, "parameters", parameters) ||
      !convert_optional_text(now_object, "now", now) ||
      !convert_optional_seconds(timeout_object, "timeout", timeout) ||
      !convert_optional_u64(max_rows_object, "max_rows", max_rows)) {
    return nullptr;
  }

  if (max_rows && *max_rows == 0) {
    raise(PyExc_ValueError, "max_rows must be positive");
    return nullptr;
  }
  std::shared_ptr<construct::Engine> engine = open_engine(db);
  if (engine == nullptr) return nullptr;
  const std::optional<literal::TimeValue> resolved_now = parse_time_argument(now, literal::wall_clock_now(), "now");
  if (!resolved_now) return nullptr;

  velquin::ExecuteOptions options;
  if (!convert_timeout(timeout, options.timeout)) return nullptr;
  if (parameters && !build_parameter_map(*parameters, options.parameters)) return nullptr;
  options.max_rows = max_rows;
  options.now = *resolved_now;
  const std::string now_text = resolved_now->display();
  options.response_envelope = execute_response_envelope_size(now_text);
  uint64_t response_bytes = 0;
  options.response_json_bytes = &response_bytes;

  auto result = run_released(std::move(engine), [&](std::shared_ptr<construct::Engine>&& held) {
    return velquin::execute_script(std::move(held), script.text, std::move(options));
  });
  if (!result) {
    raise_engine_error(result.error());
    return nullptr;
  }
  // The text is copied into the Python string, so one buffer per thread serves every call; a buffer
  // grown by a large response is let go. The buffer is sized once, and the rows go before the string
  // is made: the rows, the text and the string (each bounded by the script's result limit) are
  // never all held at once.
  thread_local std::string json;
  json.clear();
  try {
    json.reserve(response_bytes);
    append_execute_response_json(json, now_text, *result);
  } catch (const std::bad_alloc&) {
    std::string().swap(json);
    PyErr_NoMemory();
    return nullptr;
  }
  std::vector<velquin::ResultSet>().swap(*result);
  PyObject* text = json_text(json, "cannot serialize query result: the response is not valid UTF-8");
  if (json.capacity() > kKeptResponseBytes) std::string().swap(json);
  return text;
}

}  // namespace

PyObject* database_execute_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&] { return execute_json(reinterpret_cast<DatabaseObject*>(self), args, kwargs); });
}

}  // namespace brackwater::python

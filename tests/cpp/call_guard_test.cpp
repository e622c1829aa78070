// The guard's fault path: a body that throws becomes TarnwellError with the
// operation name and the fault text, and nothing reaches standard error.
#include <Python.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "check.hpp"
#include "core/internal_check.hpp"
#include "python/boundary/call_guard.hpp"

using namespace tarnwell;
using namespace tarnwell::python;

namespace {

std::string take_error_message(PyObject** type_out) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string text;
  if (value != nullptr) {
    PyObject* str = PyObject_Str(value);
    text = PyUnicode_AsUTF8(str);
    Py_DECREF(str);
  }
  *type_out = type;
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return text;
}

// Runs `call` with standard error redirected to a temporary file and returns
// what was written there.
template <class Call>
std::string captured_standard_error(Call&& call) {
  std::fflush(stderr);
  FILE* capture = std::tmpfile();
  const int saved = dup(2);
  dup2(fileno(capture), 2);
  call();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string written;
  std::rewind(capture);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, capture) != nullptr) written += buffer;
  std::fclose(capture);
  return written;
}

void check_fault(const char* operation, const std::string& expected) {
  PyObject* type = nullptr;
  const std::string message = take_error_message(&type);
  CHECK(type == tarnwell_error_class());
  CHECK(PyObject_IsSubclass(type, PyExc_RuntimeError) == 1);
  CHECK_EQ(message, expected);
  Py_XDECREF(type);
  (void)operation;
}

}  // namespace

void run_call_guard_tests() {
  // An internal assertion inside the guard: reported by the exception alone.
  std::string printed = captured_standard_error([] {
    PyObject* outcome = call_guarded("predicting with Pelt", []() -> PyObject* {
      TARNWELL_ASSERT(false, "x");
      return nullptr;
    });
    CHECK(outcome == nullptr);
  });
  check_fault("predicting with Pelt", "internal native panic while predicting with Pelt: x");
  CHECK_EQ(printed, "");

  // Any std::exception carries its text; anything else has none.
  printed = captured_standard_error([] {
    call_guarded("fitting Dynp", []() -> PyObject* { throw std::out_of_range("index 7 out of range"); });
  });
  check_fault("fitting Dynp", "internal native panic while fitting Dynp: index 7 out of range");
  CHECK_EQ(printed, "");
  call_guarded("summing CostL2 segments", []() -> PyObject* { throw 42; });
  check_fault("summing CostL2 segments", "internal native panic while summing CostL2 segments: non-string panic payload");

  // The depth counter is back at zero after faults, and a fault raised
  // outside any guard still reaches the previous hook.
  CHECK(GuardDepth::current() == 0);
  printed = captured_standard_error([] {
    try {
      TARNWELL_ASSERT(false, "outside");
    } catch (const InternalFault&) {
    }
  });
  CHECK(printed.find("outside") != std::string::npos);

  // Nested guards: the inner fault is still silent and the outer call sees
  // the inner outcome.
  printed = captured_standard_error([] {
    call_guarded("outer", []() -> PyObject* {
      return call_guarded("inner", []() -> PyObject* { TARNWELL_ASSERT(false, "deep"); return nullptr; });
    });
  });
  check_fault("inner", "internal native panic while inner: deep");
  CHECK_EQ(printed, "");

  // Error values map to their classes.
  call_guarded("validating a signal", []() -> Result<PyObject*> { return errors::fail(errors::empty_signal()); });
  PyObject* type = nullptr;
  CHECK_EQ(take_error_message(&type), "signal must contain at least one sample and one feature");
  CHECK(type == PyExc_ValueError);
  Py_XDECREF(type);
}

#include "python/error/exception.hpp"

#include <string>

namespace tarnwell::python {

PyObject* tarnwell_error_class() {
  // Created under the interpreter lock and never released: one class object
  // for the whole process, shared by every conversion and the module attribute.
  static PyObject* error_class = nullptr;
  if (error_class == nullptr) {
    error_class = PyErr_NewException("_tarnwell.TarnwellError", PyExc_RuntimeError, nullptr);
    if (error_class == nullptr) {
      PyErr_Clear();
      PyErr_SetString(PyExc_SystemError, "Failed to initialize new exception type.");
    }
  }
  return error_class;
}

PyObject* raise_error(const ErrorKind& error) {
  // The signal handler has set the exception already (usually KeyboardInterrupt).
  if (error.exception_class() == ExceptionClass::keyboard_interrupt) {
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  PyObject* exception_type = nullptr;
  switch (error.exception_class()) {
    case ExceptionClass::value_error: exception_type = PyExc_ValueError; break;
    case ExceptionClass::memory_error: exception_type = PyExc_MemoryError; break;
    case ExceptionClass::runtime_error: exception_type = PyExc_RuntimeError; break;
    case ExceptionClass::not_implemented_error: exception_type = PyExc_NotImplementedError; break;
    case ExceptionClass::keyboard_interrupt: exception_type = PyExc_KeyboardInterrupt; break;
    case ExceptionClass::tarnwell_error:
      exception_type = tarnwell_error_class();
      if (exception_type == nullptr) return nullptr;
      break;
  }
  const std::string message = error.message();
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(exception_type, text);
  Py_DECREF(text);
  return nullptr;
}

}  // namespace tarnwell::python

// A raised Python exception held as one object, so that it can be carried out
// of a search and raised again exactly as the callback left it: the same
// object, with its traceback, __cause__ and __context__.
#pragma once

#include <Python.h>

#include <mutex>
#include <utility>

#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

// Takes the current Python exception (one must be set) and clears it.
PyRef take_current_exception() noexcept;

// Makes `exception` the current Python exception again.
void restore_exception(PyRef exception) noexcept;

// The exception a failed callback left behind, until the search that ran the
// callback collects it. A newer failure replaces an older one. The lock only
// guards the exchange of one pointer; the reference an exchange replaces is
// dropped after unlocking, because dropping it may run Python code (a
// finalizer) that could come back here.
class PendingException {
 public:
  void store(PyRef exception) noexcept {
    PyRef replaced;
    {
      std::lock_guard lock(mutex_);
      replaced = std::exchange(slot_, std::move(exception));
    }
  }

  PyRef take() noexcept {
    std::lock_guard lock(mutex_);
    return std::exchange(slot_, PyRef());
  }

 private:
  std::mutex mutex_;
  PyRef slot_;
};

}  // namespace tarnwell::python

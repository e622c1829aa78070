// A Python object that follows the custom-cost protocol, seen by the searches
// as one more SegmentCost. This and custom_cost_searches.cpp are the only code
// outside the module surface that calls Python while a search runs.
//
// Every callback takes the interpreter lock for its duration
// (PyGILState_Ensure, which is re-entrant: the searches over this cost keep
// the lock anyway). A Python exception raised or detected by a callback is
// kept as the pending exception and the search fails with a numerical
// failure; the code that started the search then raises the kept exception
// in place of that failure.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "cost/endpoint_batch.hpp"
#include "python/custom_cost/custom_cost_protocol.hpp"
#include "python/custom_cost/python_exception.hpp"
#include "core/error/error_kind.hpp"
#include "python/mod/py_ref.hpp"
#include "python/mod/signal_argument.hpp"

namespace tarnwell::python {

class CustomCostAdapter {
 public:
  // `min_size` is the search's effective minimum, at least the object's;
  // `search_name` (static text) names the search in re-entry errors.
  CustomCostAdapter(PyRef object, std::uint64_t n_samples, std::uint64_t n_features, std::uint64_t min_size,
                    CustomCostOptions options, const char* search_name) noexcept
      : object_(std::move(object)),
        search_name_(search_name),
        n_samples_(n_samples),
        n_features_(n_features),
        min_size_(min_size),
        options_(options) {}
  // Holds a strong reference: destroy only with the interpreter lock held.
  ~CustomCostAdapter() = default;
  CustomCostAdapter(const CustomCostAdapter&) = delete;
  CustomCostAdapter& operator=(const CustomCostAdapter&) = delete;

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return min_size_; }
  std::optional<double> pelt_pruning_constant() const noexcept { return options_.pelt_pruning_constant; }
  bool uses_batch_callback() const noexcept { return options_.has_error_many; }
  const char* search_name() const noexcept { return search_name_; }

  // One Python call: error(start, end), or error_many with a single segment.
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  // Every start is validated before the first callback; then one
  // error_many(starts, ends) call, or one error(start, end) per start.
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // Moves the pending exception out, leaving none.
  PyRef take_pending_error() const noexcept { return pending_.take(); }

  int traverse(visitproc visit, void* arg) const {
    Py_VISIT(object_.get());
    return 0;
  }

 private:
  // Both return false with a Python exception set.
  bool call_error(std::uint64_t start, std::uint64_t end, double& value) const;
  bool call_error_many(std::span<const std::uint64_t> starts, std::uint64_t end, double* values) const;
  // Keeps the current Python exception as the pending one; returns the
  // search's own error for the failed callback.
  ErrorKind keep_callback_exception() const noexcept;

  PyRef object_;
  const char* search_name_;
  std::uint64_t n_samples_;
  std::uint64_t n_features_;
  std::uint64_t min_size_;
  CustomCostOptions options_;
  mutable PendingException pending_;
};

// The fit of a search with a custom cost: the caller's array is checked in
// place (shape, finiteness) and handed to object.fit as it is; the protocol is
// then checked again, since fit may change the object. Protocol violations
// and exceptions of fit are raised as Python exceptions (PythonErrorAlreadySet).
Result<std::shared_ptr<const CustomCostAdapter>> fit_custom_cost(PyObject* object, const ArrayArgument& signal,
                                                                std::uint64_t search_min_size,
                                                                const char* search_name);

}  // namespace tarnwell::python

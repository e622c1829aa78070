// Fitting a cost model from the caller's array: in place when the model reads
// any layout itself, from an owned contiguous copy otherwise.
#pragma once

#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

template <class Model>
Result<typename Model::Fitted> fit_from_view(const Model& model, const StridedMatrix& view) {
  if constexpr (requires { model.fit(view); }) {
    return model.fit(view);
  } else {
    TARNWELL_TRY(owned, Signal::copy_from(view));
    return model.fit(owned);
  }
}

}  // namespace tarnwell

// The documentation of the parameters the classes share, written once and
// composed into the class, method and property docstrings.
#pragma once

namespace tarnwell::python::docs {

#define TARNWELL_DOC_SIGNAL                                                                                 \
  "signal: float64 NumPy array of shape (n_samples,) or (n_samples, n_features), rows in time order, every " \
  "value finite. It is read once; the object keeps what it derives from it, never the array."
// The `model` parameter's text is written from the cost list: model_docs.hpp.
#define TARNWELL_DOC_MIN_SIZE                                                                                   \
  "min_size: the shortest segment allowed, in samples (at least 1); raised silently to the model's own minimum " \
  "(2 for most models)."
#define TARNWELL_DOC_JUMP                                                                                         \
  "jump: the grid step (at least 1): breakpoints are searched only at multiples of jump (and at n_samples), so a " \
  "larger jump is faster but places changes more coarsely; 1 searches every sample."
#define TARNWELL_DOC_PEN                                                                                             \
  "pen: the penalty per change, finite and positive; larger values give fewer changes. It is in the units of the "  \
  "cost, so it must follow the scale of the signal: the l2, linear, ar, clinear and mahalanobis costs are sums of " \
  "squares, so multiplying the signal by s multiplies them, and the penalty that finds the same changes, by "       \
  "s**2 (the penalty scales with the noise variance); l1 costs scale with s; rank and normal costs do not depend "  \
  "on the scale. A common start for l2 is pen = 2 * sigma**2 * log(n_samples), sigma the noise standard "          \
  "deviation; tarnwell.penalty.default_penalty chooses one from the data and tarnwell.penalty.penalty_path lists " \
  "every distinct segmentation over a range of penalties."
#define TARNWELL_DOC_N_BKPS "n_bkps: the number of changes to find; the result then has n_bkps + 1 segments."
#define TARNWELL_DOC_EPSILON                                                                                     \
  "epsilon: a reconstruction budget, finite and not negative: the search stops at the fewest changes that bring " \
  "the total segment cost to epsilon or below (Binseg and Window add changes while the cost is above it, "        \
  "BottomUp merges while it stays below). Like pen it is in the units of the cost and scales the same way (with " \
  "the noise variance for l2); about n_samples * sigma**2 keeps the changes that explain more than the noise."
#define TARNWELL_DOC_CUSTOM_COST                                                                                   \
  "custom_cost: None, or a Python object used as the cost instead of model: it has fit(signal), error(start, end) " \
  "(the cost of rows [start, end)) and an integer min_size, optionally error_many(starts, ends) for a whole batch " \
  "and pelt_pruning_constant. It is fitted in place and kept by the search; every cost is a call into Python, " \
  "so a built-in cost object belongs in model instead."
#define TARNWELL_DOC_RESULT                                                                                        \
  "Returns the breakpoints: a list of increasing sample indices, each the end of a segment, the last always "     \
  "n_samples; segments are [0, b1), [b1, b2), ..."
#define TARNWELL_DOC_GREEDY_RULES                                                                                   \
  "Exactly one of n_bkps, pen and epsilon is given:\n" TARNWELL_DOC_N_BKPS "\n" TARNWELL_DOC_PEN "\n" TARNWELL_DOC_EPSILON

}  // namespace tarnwell::python::docs

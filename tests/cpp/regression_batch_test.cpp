// The regression costs' endpoint batch answers from running normal equations
// and must agree with the exact per-segment solver on every start, falling
// back to it whenever the shortcut is unreliable. Python reaches the batch
// only through the searches, so the comparison runs here.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "cost/ar/ar_cost.hpp"
#include "cost/linear/linear_cost.hpp"

using namespace tarnwell;

namespace {

Signal make_signal(std::vector<double> values, std::uint64_t n, std::uint64_t d) {
  auto signal = Signal::create(std::move(values), n, d);
  CHECK(signal.has_value());
  return *std::move(signal);
}

bool agrees(double batch, double exact) {
  return std::fabs(batch - exact) <= 1e-9 * std::max(1.0, std::fabs(exact));
}

template <class Outcome>
std::string message_of(const Outcome& outcome) {
  return outcome ? std::string("success") : outcome.error().message();
}

// Compares every start of the batch [starts, end) with the exact solver; both
// must succeed or both must fail with the same message.
template <class Cost>
void check_batch_matches_exact(const Cost& cost, const std::vector<std::uint64_t>& starts, std::uint64_t end) {
  EndpointBatch out;
  const Status status = cost.endpoint_costs(starts, end, out);
  std::string exact_failure;
  std::vector<double> exact;
  for (const std::uint64_t start : starts) {
    auto value = cost.segment_cost(start, end);
    if (!value) {
      exact_failure = value.error().message();
      break;
    }
    exact.push_back(*value);
  }
  if (!exact_failure.empty()) {
    CHECK_EQ(message_of(status), exact_failure);
    return;
  }
  CHECK_EQ(message_of(status), "success");
  if (!status) return;
  CHECK(out.size() == starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (!agrees(out[i], exact[i])) {
      std::printf("start %llu end %llu: batch %.17g exact %.17g\n", static_cast<unsigned long long>(starts[i]),
                  static_cast<unsigned long long>(end), out[i], exact[i]);
    }
    CHECK(agrees(out[i], exact[i]));
  }
}

std::vector<std::uint64_t> all_starts(std::uint64_t end, std::uint64_t minimum, std::uint64_t step) {
  std::vector<std::uint64_t> starts;
  for (std::uint64_t s = 0; s + minimum <= end; s += step) starts.push_back(s);
  return starts;
}

std::vector<double> normal_values(std::mt19937_64& generator, std::size_t count, double scale) {
  std::normal_distribution<double> normal(0.0, scale);
  std::vector<double> values(count);
  for (double& value : values) value = normal(generator);
  return values;
}

void random_batches_agree() {
  std::mt19937_64 generator(7);
  for (const std::uint64_t d : {2u, 3u, 5u, 9u}) {
    const std::uint64_t n = 120;
    const LinearCost linear = *LinearCost::fit(make_signal(normal_values(generator, n * d, 2.0), n, d));
    for (const std::uint64_t end : {2u, 17u, 64u, 120u}) {
      for (const std::uint64_t step : {1u, 3u}) check_batch_matches_exact(linear, all_starts(end, 2, step), end);
    }
    std::uniform_int_distribution<std::uint64_t> pick(0, n - 2);
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<std::uint64_t> starts;
      for (std::uint64_t s = pick(generator) % 7; s + 2 <= 100; s += 1 + pick(generator) % 9) starts.push_back(s);
      check_batch_matches_exact(linear, starts, 100);
    }
  }
  for (const std::uint64_t order : {1u, 2u, 4u, 6u}) {
    for (const std::uint64_t d : {1u, 2u, 3u}) {
      std::vector<double> values = normal_values(generator, 150 * d, 1.0);
      for (std::size_t i = d; i < values.size(); ++i) values[i] += 0.6 * values[i - d];  // some memory
      const ARCost ar = *ARCost::fit(make_signal(values, 150, d), order);
      for (const std::uint64_t end : {ar.min_segment_length(), std::uint64_t{40}, std::uint64_t{150}}) {
        check_batch_matches_exact(ar, all_starts(end, ar.min_segment_length(), 1), end);
      }
    }
  }
}

// Segments the shortcut must not answer: perfect fits (RSS under the
// cancellation tolerance), singular and ill-conditioned G, overflow.
void fallback_cases_agree() {
  std::mt19937_64 generator(11);
  const std::uint64_t n = 80;
  {  // response exactly linear in the design, large scale
    std::vector<double> values = normal_values(generator, n * 3, 1e3);
    for (std::uint64_t t = 0; t < n; ++t) values[t * 3] = 2.0 * values[t * 3 + 1] - 0.5 * values[t * 3 + 2];
    const LinearCost cost = *LinearCost::fit(make_signal(values, n, 3));
    const std::uint64_t before = regression_batch_fallback_count();
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    // Every segment of three or more rows is a perfect fit and was recomputed.
    CHECK(regression_batch_fallback_count() - before >= n - 3);
    EndpointBatch out;
    CHECK(cost.endpoint_costs(all_starts(n, 2, 1), n, out).has_value());
    for (std::size_t i = 0; i + 3 <= out.size(); ++i) CHECK(std::fabs(out[i]) < 1e-12);
  }
  {  // a design column that is zero: G singular
    std::vector<double> values = normal_values(generator, n * 3, 1.0);
    for (std::uint64_t t = 0; t < n; ++t) values[t * 3 + 2] = 0.0;
    const LinearCost cost = *LinearCost::fit(make_signal(values, n, 3));
    const std::uint64_t before = regression_batch_fallback_count();
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    CHECK(regression_batch_fallback_count() - before == n - 1);
  }
  {  // nearly duplicated columns: G ill-conditioned
    std::vector<double> values = normal_values(generator, n * 3, 1.0);
    for (std::uint64_t t = 0; t < n; ++t) values[t * 3 + 2] = values[t * 3 + 1] * (1.0 + 1e-10 * (t % 3));
    const LinearCost cost = *LinearCost::fit(make_signal(values, n, 3));
    const std::uint64_t before = regression_batch_fallback_count();
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    CHECK(regression_batch_fallback_count() - before == n - 1);
  }
  {  // products overflow: the shortcut sees inf, the exact solver reports
    std::vector<double> values = normal_values(generator, n * 2, 1e200);
    const LinearCost cost = *LinearCost::fit(make_signal(values, n, 2));
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    EndpointBatch out;
    CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{0, 10}, n, out)),
             "objective value must be finite, got inf");
  }
  {  // well-conditioned data never falls back
    const LinearCost cost = *LinearCost::fit(make_signal(normal_values(generator, n * 4, 1.0), n, 4));
    const std::uint64_t before = regression_batch_fallback_count();
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    CHECK(regression_batch_fallback_count() - before <= 2);  // only the shortest, exactly fitted segments
  }
  for (const double unit : {1e-7, 1e-3, 1e7}) {  // nor does it in small or large units
    const LinearCost cost = *LinearCost::fit(make_signal(normal_values(generator, n * 4, unit), n, 4));
    const std::uint64_t before = regression_batch_fallback_count();
    check_batch_matches_exact(cost, all_starts(n, 2, 1), n);
    CHECK(regression_batch_fallback_count() - before <= 2);
  }
  {  // an autoregression in a small unit: the intercept column beside lags of 1e-7
    const ARCost cost = *ARCost::fit(make_signal(normal_values(generator, n, 1e-7), n, 1), 2);
    const std::uint64_t before = regression_batch_fallback_count();
    EndpointBatch out;
    CHECK(cost.endpoint_costs(all_starts(n, 5, 1), n, out).has_value());
    CHECK(regression_batch_fallback_count() - before <= 2);
  }
}

void batch_contract() {
  const std::vector<double> values{1, 1, 2, 2, 3, 3, 5, 4, 1, 0, 0, 1, 2, 2, 7, 1, 3, 3, 1, 1};
  const LinearCost cost = *LinearCost::fit(make_signal(values, 10, 2));
  EndpointBatch out;
  CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{4, 2}, 10, out)),
           "numerical failure while evaluating an unordered endpoint cost batch");
  CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{2, 2}, 10, out)),
           "numerical failure while evaluating an unordered endpoint cost batch");
  CHECK(out.size() == 0);
  CHECK(cost.endpoint_costs(std::vector<std::uint64_t>{0, 2, 4}, 10, out).has_value());
  CHECK(out.size() == 3);
  for (std::size_t i = 0; i < 3; ++i) CHECK(agrees(out[i], *cost.segment_cost(2 * i, 10)));
  CHECK(cost.endpoint_costs(std::vector<std::uint64_t>{0}, 4, out).has_value());
  CHECK(std::fabs(out[0] - 7.0 / 15.0) < 1e-12);
  CHECK(cost.endpoint_costs(std::vector<std::uint64_t>{}, 10, out).has_value());
  CHECK(out.size() == 0);
  CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{0, 2, 11}, 10, out)),
           "invalid segment [11, 10) for a signal of length 10");
  CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{0, 2}, 11, out)),
           "invalid segment [2, 11) for a signal of length 10");
  CHECK_EQ(message_of(cost.endpoint_costs(std::vector<std::uint64_t>{0, 9}, 10, out)),
           "segment [9, 10) has length 1, below minimum 2");
  const ARCost ar = *ARCost::fit(make_signal(values, 20, 1), 4);
  CHECK_EQ(message_of(ar.endpoint_costs(std::vector<std::uint64_t>{0, 16}, 20, out)),
           "segment [16, 20) has length 4, below minimum 5");
}

void design_shapes() {
  const std::vector<double> values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  auto ar = ARCost::fit(make_signal(values, 6, 2), 3);
  CHECK(ar.has_value());
  CHECK(ar->order() == 3 && ar->min_segment_length() == 5 && ar->n_features() == 2);
  CHECK_EQ(message_of(RegressionModel::create({1, 2, 3}, 1, {1, 2}, 1)),
           "response and design have different sample counts: 2 and 3");
  CHECK_EQ(message_of(RegressionModel::create({1, 2, 3, 4}, 2, {1, 2, 3}, 1)),
           "response and design have different sample counts: 3 and 2");
}

}  // namespace

void run_regression_batch_tests() {
  random_batches_agree();
  fallback_cases_agree();
  batch_contract();
  design_shapes();
}

// A minimal check harness for the few native tests: each failed check prints
// its location and marks the run failed; main() returns the verdict.
#pragma once

#include <cstdio>
#include <string>

namespace tarnwell::testing {

inline int failures = 0;
inline int checks = 0;

inline void check_equal(const std::string& actual, const std::string& expected, const char* file, int line) {
  ++checks;
  if (actual != expected) {
    ++failures;
    std::printf("%s:%d: expected \"%s\", got \"%s\"\n", file, line, expected.c_str(), actual.c_str());
  }
}

inline void check_true(bool condition, const char* text, const char* file, int line) {
  ++checks;
  if (!condition) {
    ++failures;
    std::printf("%s:%d: check failed: %s\n", file, line, text);
  }
}

}  // namespace tarnwell::testing

#define CHECK_EQ(actual, expected) ::tarnwell::testing::check_equal((actual), (expected), __FILE__, __LINE__)
#define CHECK(condition) ::tarnwell::testing::check_true((condition), #condition, __FILE__, __LINE__)

void run_message_tests();
void run_call_guard_tests();
void run_pelt_pruning_tests();
void run_regression_batch_tests();
void run_l1_batch_tests();
void run_kernel_state_tests();
void run_prefix_batch_tests();

#include <Python.h>

#include "check.hpp"

int main() {
  Py_Initialize();
  run_message_tests();
  run_call_guard_tests();
  run_pelt_pruning_tests();
  run_regression_batch_tests();
  run_l1_batch_tests();
  run_kernel_state_tests();
  run_prefix_batch_tests();
  Py_Finalize();
  std::printf("%d passed, %d failed\n", tarnwell::testing::checks - tarnwell::testing::failures,
              tarnwell::testing::failures);
  return tarnwell::testing::failures == 0 ? 0 : 1;
}

#pragma once
// A test that cannot run because a tool is missing is skipped on a developer's machine
// (CTest then reports it as skipped), but fails under CI, whose set-up installs every tool:
// there a test that did not run must never pass unseen.
#include <gtest/gtest.h>
#include <stdlib.h>

#define MSW_NEEDS(available, what)                                                        \
  do {                                                                                    \
    if (!(available)) {                                                                   \
      if (getenv("CI")) FAIL() << what << " is missing, and under CI every test must run"; \
      GTEST_SKIP() << what << " is missing";                                              \
    }                                                                                     \
  } while (0)

// The two contents the crash-safety test and its child process agree on:
// different sizes and different bytes, so that any mix or truncation shows.
#ifndef EMBERFALL_TESTS_HELPERS_FILE_APPLY_CONTENTS_H_
#define EMBERFALL_TESTS_HELPERS_FILE_APPLY_CONTENTS_H_

#include "tests/support/test_corpus.h"

namespace emberfall::test {

inline Bytes CrashTestOldContents() { return FastRandomBytes(6 * 1048576 + 11, 1); }
inline Bytes CrashTestNewContents() { return FastRandomBytes(17 * 1048576 + 5, 2); }

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_HELPERS_FILE_APPLY_CONTENTS_H_

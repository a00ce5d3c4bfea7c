// Severity: the result of every framework operation that can fail, and the
// severity column of the error manager's message table.
//
// The values are stored (a message table keeps them in one byte) and
// compared across the framework, so they keep their numbers. The enum has a
// fixed underlying type so that a value outside 0..5 read from a table stays
// representable; the error manager handles such a value as SeverityHalt.
// Constant data only; safe from any thread.

#ifndef QZR_FRAMEWORK_SEVERITY_H_
#define QZR_FRAMEWORK_SEVERITY_H_

#include <cstdint>

namespace qzr {

enum Severity : int32_t {
  SeverityNone = 0,      // nothing to report; default processing continues
  SeverityQuestion = 1,  // a Yes/No question
  SeverityInternal = 2,  // an internal error; handled as SeverityHalt
  SeverityHalt = 3,      // the program ends (an event handler: leave the loop)
  SeverityDeclined = 4,  // a question answered No
  SeverityInform = 5,    // information shown; the operation did not complete
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_SEVERITY_H_

// What the four migration steps share: continue-on-error execution, the
// opening of a step's own connection, and name comparison without regard to
// letter case.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "base/diagnostics.h"
#include "db/database.h"

namespace qv::migration {

// Continue-on-error: every database operation of a step runs through Run,
// which records a failure and lets the step carry on with its next
// statement. The step decides its outcome at the end from failed().
class ErrorTrap {
 public:
  // Returns true when `operation` completed without raising.
  template <typename Operation>
  bool Run(Operation&& operation) {
    try {
      std::forward<Operation>(operation)();
      return true;
    } catch (const std::exception& e) {
      if (!failed_) firstFailure_ = e.what();
      failed_ = true;
      return false;
    }
  }

  // Records a failure that was detected without an exception.
  void Fail() { failed_ = true; }

  bool failed() const { return failed_; }
  // What the first failure that Run caught said; empty when none did.
  const std::string& firstFailure() const { return firstFailure_; }

 private:
  bool failed_ = false;
  std::string firstFailure_;
};

// For the operations whose failure changes nothing: the commit, the rollback
// and the closing at the end of a step.
template <typename Operation>
void IgnoreErrors(Operation&& operation) {
  try {
    std::forward<Operation>(operation)();
  } catch (const std::exception&) {
  }
}

// Opens `connectionString` with empty user and password (the credentials
// travel in the string). Returns nullptr, with the failure recorded in
// `trap`, when the connection cannot be opened.
std::unique_ptr<db::Connection> OpenStepConnection(db::Connector& connector,
                                                   const std::string& connectionString,
                                                   ErrorTrap& trap);

// Opens the connection and begins its transaction. Returns nullptr, with the
// failure recorded, when either fails: a step whose transaction could not
// begin does no work, since its statements would otherwise be committed one
// by one and its rollback could not undo them.
std::unique_ptr<db::Connection> OpenStepTransaction(db::Connector& connector,
                                                    const std::string& connectionString,
                                                    ErrorTrap& trap);

// Ends the step's transaction: commits when nothing failed, rolls back
// otherwise, then closes the connection. Failures of these operations change
// neither the step's result nor its message; a failed commit is named on
// `diagnostics` with the data source of `connectionString`, since nothing
// else tells the administrator that the step's work was not saved.
// `connection` may be null (the open failed).
void FinishStepTransaction(db::Connection* connection, const ErrorTrap& trap,
                           const std::string& connectionString, const Diagnostics& diagnostics);

}  // namespace qv::migration

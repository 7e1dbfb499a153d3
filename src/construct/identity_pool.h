// The identity pool: every identity the engine has issued or recorded, and the largest of them.
//
// One sequence serves Roles, Things and Posits. A new identity is `last` + 1; the pool never wraps:
// drawing after the largest 64-bit identity fails with `Internal` "identity pool is exhausted". An
// identity handed back (a Posit that proved to exist) leaves the set, but `last` stays, so the number
// is skipped for good. After a store is reopened the pool holds the persisted identities only.
#pragma once

#include <cstdint>

#include "construct/error.h"
#include "construct/identity.h"
#include "construct/identity_set.h"

namespace brackwater::construct {

class IdentityPool {
 public:
  // Inserts `id` and raises `last` to it when larger.
  void record(Identity id) {
    allocated_.add(id);
    if (id > last_) last_ = id;
  }

  Result<Identity> draw() {
    if (last_ == UINT64_MAX) return fail(exhausted());
    ++last_;
    allocated_.add(last_);
    return last_;
  }

  // Takes a drawn identity back out of the set; `last` is not lowered.
  void release(Identity id) { allocated_.remove(id); }

  // Passes over `n` identities as n draws, each released at once, would: `last` rises by n (and
  // stops at the top with the error of draw()).
  Result<void> skip(uint64_t n) {
    if (n > UINT64_MAX - last_) {
      last_ = UINT64_MAX;
      return fail(exhausted());
    }
    last_ += n;
    return {};
  }

  Identity last() const { return last_; }
  uint64_t size() const { return allocated_.cardinality(); }
  bool contains(Identity id) const { return allocated_.contains(id); }
  const IdentitySet& allocated() const { return allocated_; }
  size_t memory_bytes() const { return identity_set_bytes(allocated_); }

 private:
  static EngineError exhausted() { return EngineError::internal("identity pool is exhausted"); }

  IdentitySet allocated_;
  Identity last_ = 0;
};

}  // namespace brackwater::construct

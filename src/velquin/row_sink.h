// Row sinks: where a search hands its rendered rows.
//
// begin() receives the column names once and answers whether to stop at once; push() receives one
// row and answers whether to stop. BoundedRowSink (one per search statement) keeps at most `limit`
// rows: offered a row when it already holds `limit`, it sets `limited`, drops the row and answers
// stop. A limit of 0 keeps nothing and is limited at the first row offered. Each row it keeps is
// charged to the script's ResultBytes, when it has one; past their maximum push() fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "construct/budget.h"
#include "construct/error.h"
#include "velquin/result_set.h"

namespace brackwater::velquin {

// What one script's result sets cost: the bytes their rendered rows hold (a kept row costs its
// cells' text and the fixed size of the row and of each cell), and the size of the response the
// caller receives, counted as the rows are kept: its JSON text (the envelope around the sets and
// the first set's warnings, which the envelope repeats, included), and the host's text of it, whose
// every character takes the bytes of the widest one (literal::JsonTextSize). A script may keep
// kMaxResultBytes (512 MiB) of each, so the rows, the text and the host's text of one call stay
// under 1.5 GiB together; a row or a set that would go past one of them fails with
// `ResourceLimit` "result bytes". The rows' bytes are charged to the statements' budget as well,
// when given: the rows a script keeps count in every later statement's budget too, as they are
// held while it runs.
inline constexpr uint64_t kMaxResultBytes = uint64_t(1) << 29;

class ResultBytes {
 public:
  explicit ResultBytes(construct::Budget* budget = nullptr) : charge_(budget) {}
  // A kept row, with its place in the response (a comma before it unless it is its set's first).
  construct::Result<void> charge(const ResultRow& row, bool first);
  // A set's place in the response but for its rows' (charge() counts those); for the first set,
  // its warnings as well, which the envelope repeats.
  construct::Result<void> charge_frame(const ResultSet& set, bool first);
  // The envelope the caller writes around the sets, but for the warnings it repeats.
  construct::Result<void> charge_envelope(const literal::JsonTextSize& text) { return add(0, text); }
  uint64_t used() const { return used_; }
  const literal::JsonTextSize& response() const { return response_; }

 private:
  // Adds `rows` bytes of rows and `text` of response, or fails adding nothing.
  construct::Result<void> add(uint64_t rows, const literal::JsonTextSize& text);

  uint64_t used_ = 0;
  literal::JsonTextSize response_;
  construct::Charge charge_;
};

// Hands `rows` (emptied) to the background releaser when they are many; else leaves them.
void release_rows_later(std::vector<ResultRow>& rows);

class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool begin(const std::vector<std::string>& columns) = 0;
  virtual construct::Result<bool> push(ResultRow row) = 0;
  // The most rows the sink keeps, or none.
  virtual std::optional<uint64_t> row_limit() const = 0;
};

class BoundedRowSink final : public RowSink {
 public:
  explicit BoundedRowSink(std::optional<uint64_t> limit, ResultBytes* bytes = nullptr) : limit(limit), bytes_(bytes) {}
  // Rows still held (a failed search's) are many small blocks: a large number goes to the
  // background releaser.
  ~BoundedRowSink() override { release_rows_later(rows); }

  bool begin(const std::vector<std::string>&) override { return false; }
  construct::Result<bool> push(ResultRow row) override {
    if (limit && rows.size() >= *limit) {
      limited = true;
      return true;
    }
    if (bytes_ != nullptr) {
      if (auto charged = bytes_->charge(row, rows.empty()); !charged) return construct::fail(std::move(charged.error()));
    }
    rows.push_back(std::move(row));
    return false;
  }
  std::optional<uint64_t> row_limit() const override { return limit; }

  std::optional<uint64_t> limit;
  std::vector<ResultRow> rows;
  bool limited = false;

 private:
  ResultBytes* bytes_;
};

}  // namespace brackwater::velquin

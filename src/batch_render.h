// The fast renderer: many rows at once, on every core and SIMD lane, giving
// the very same accumulator as render_cells called row after row. This unit
// renders one range of samples for a batch of rows; render_pipeline.h spreads
// the ranges of successive batches over threads.
#pragma once

#include <cstdint>

#include "constants.h"
#include "exact_arithmetic.h"

namespace gridwave {

// Rows the driver reads from the grid file and renders together.
inline constexpr int kBatchRows = 64;

// Angles per row in the turn tables: two of the widest vectors of doubles.
inline constexpr int kTurnLanes = 16;

// How far each row's phase turns from the middle of a pair of sample vectors
// to each of its samples: for j = 0 ... kTurnLanes-1,
// a = (j - kTurnMiddle) * steps[r], turns[r * kTurnLanes + j] = a / kFullCircle,
// and cos and sin of a.
inline constexpr int kTurnMiddle = kTurnLanes / 2;
struct TurnTables {
  alignas(64) double turns[kBatchRows * kTurnLanes];
  alignas(64) double cos[kBatchRows * kTurnLanes];
  alignas(64) double sin[kBatchRows * kTurnLanes];
};
void fill_turn_tables(const double* steps, int rows, TurnTables& tables);

// Samples [begin, end) of a batch of rows.
struct RangeJob {
  Slot* accumulator;
  const double* steps;         // phase step of each row
  const std::int32_t* cells;   // row r's cell k at cells[r * kCellsPerRow + k]
  int rows;
  std::int64_t begin;
  std::int64_t end;
  const double* start_phases;  // each row's phase at sample begin; null: all 0 (begin must be 0)
  double* end_phases;          // receives each row's phase at sample end, unless null
  const TurnTables* turns;     // from fill_turn_tables
  // The slots are fresh zero memory (see Accumulator::take_fresh): they are
  // written without being read first.
  bool slots_fresh;
};

// Adds samples [begin, end) of the job's rows into the accumulator, exactly
// as render_cells would, each slot taking the rows in ascending order.
// Returns how many row samples were recomputed with std::sin.
std::uint64_t render_sample_range(const RangeJob& job);

}  // namespace gridwave

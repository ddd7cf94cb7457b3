// Batches of rows rendered on several threads at once, in a wavefront.
//
// Each batch's samples are cut into ranges. Range r of batch b needs the
// rows' phases where range r-1 of the same batch ended (handed over, so every
// phase comes out of the one recurrence, sample after sample), and it must
// come after range r of batch b-1 (so that every slot takes the rows in
// ascending order). Any idle thread takes the oldest range that is ready, so
// one thread may start the next batch while another finishes this one, and
// no phase is ever run twice.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include <pthread.h>

#include "accumulator.h"
#include "batch_render.h"
#include "constants.h"
#include "exact_arithmetic.h"

namespace gridwave {

// Threads the program renders with: GRIDWAVE_THREADS when it holds a count
// from 1 to kMaxRenderThreads, otherwise the CPUs this process may run on.
inline constexpr int kMaxRenderThreads = 256;
int render_threads();

class RenderPipeline {
 public:
  // Rows of a batch, filled in by the caller between next_batch() and submit().
  struct Batch {
    std::int32_t cells[kBatchRows * kCellsPerRow];  // row r's cell k at [r * kCellsPerRow + k]
    double frequencies[kBatchRows];
  };

  // Renders `columns` columns (clamped to 0 ... kCellsPerRow) into the
  // accumulator with up to `threads` threads: those that cannot be started
  // are done without, and with none the calling thread renders each batch
  // in submit(). Keeps one batch buffer (about 80 KB) per thread and one
  // more. From an Accumulator it takes whether the slots are fresh.
  // A failure in a render thread (std::bad_alloc) is thrown by the next
  // call of next_batch, submit, finished or finish.
  RenderPipeline(Slot* accumulator, int columns, int threads);
  RenderPipeline(Accumulator& accumulator, int columns, int threads);
  ~RenderPipeline();  // waits for every submitted batch
  RenderPipeline(const RenderPipeline&) = delete;
  RenderPipeline& operator=(const RenderPipeline&) = delete;

  // The buffer for the next batch; waits until one is free.
  Batch& next_batch();
  // Hands over the batch filled since next_batch(), with its first `rows` rows.
  void submit(int rows);
  // Batches finished so far: they are finished in the order submitted.
  std::int64_t finished();
  // Waits until every submitted batch is finished.
  void finish();

 private:
  struct InFlight;
  RenderPipeline(Slot* accumulator, int columns, int threads, bool fresh);
  void start_workers(int threads);
  void work();
  void render_ready(std::unique_lock<std::mutex>& lock);
  bool all_done_or_failed() const;  // with the lock held
  void throw_failure();             // with the lock held
  bool take_ready(int& range, std::int64_t& batch);
  void render(int range, std::int64_t batch);

  Slot* accumulator_;
  bool fresh_;  // the slots are fresh zero memory, never read or written
  std::vector<std::int64_t> bounds_;  // range r covers samples [bounds_[r], bounds_[r+1])
  std::vector<std::unique_ptr<InFlight>> slots_;  // batch b lives in slots_[b % size]

  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t submitted_ = 0;
  std::vector<std::int64_t> taken_;  // per range: batches taken
  std::vector<std::int64_t> done_;   // per range: batches done
  bool closing_ = false;
  std::exception_ptr failure_;  // what stopped a range, thrown to the caller
  std::vector<pthread_t> workers_;
};

// Rows per batch for rendering `rows` rows: at most kBatchRows, and as even
// as can be, because a small last batch leaves threads idle at the end.
int batch_rows_for(std::int64_t rows);

}  // namespace gridwave

#include "render_pipeline.h"
#include "render_testing.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>

#include "tone.h"

namespace gridwave {
namespace {

std::atomic<std::uint64_t> fallback_total{0};

// Range borders fall on multiples of this, so that sample vectors stay whole.
constexpr std::int64_t kRangeAlign = 64;

// Ranges per thread: enough that a thread finding nothing to do is rare,
// few enough that each range is long.
constexpr int kRangesPerThread = 8;

}  // namespace

// A batch between submit() and the end of its last range.
struct RenderPipeline::InFlight {
  Batch batch;
  int rows = 0;
  double steps[kBatchRows];
  TurnTables turns;
  // Each row's phase where the batch's last finished range ended. Ranges of
  // one batch run one after another, and each takes its start phases
  // before it writes its end phases, so one set serves them all.
  double phases[kBatchRows];
};

RenderPipeline::RenderPipeline(Slot* accumulator, int columns, int threads)
    : RenderPipeline(accumulator, columns, threads, false) {}

RenderPipeline::RenderPipeline(Accumulator& accumulator, int columns, int threads)
    : RenderPipeline(accumulator.slots(), columns, threads, accumulator.take_fresh()) {}

RenderPipeline::RenderPipeline(Slot* accumulator, int columns, int threads, bool fresh)
    : accumulator_(accumulator), fresh_(fresh) {
  threads = std::clamp(threads, 1, kMaxRenderThreads);
  const std::int64_t samples = std::int64_t{std::clamp(columns, 0, kCellsPerRow)} * kSamplesPerColumn;
  const int ranges = threads == 1 ? 1 : kRangesPerThread * threads;
  bounds_.push_back(0);
  for (int r = 1; r < ranges; ++r) {
    const std::int64_t at = samples * r / ranges / kRangeAlign * kRangeAlign;
    if (at > bounds_.back()) bounds_.push_back(at);
  }
  if (samples > 0) bounds_.push_back(samples);
  const std::size_t range_count = bounds_.size() - 1;
  taken_.assign(range_count, 0);
  done_.assign(range_count, 0);
  // A thread can work only on a batch of its own (a batch's ranges follow
  // one another), so one batch more than threads keeps them all busy.
  for (int i = 0; i < threads + 1; ++i) slots_.push_back(std::make_unique<InFlight>());
  if (range_count > 0) start_workers(threads);
}

// The workers need little stack; a small one lets many threads start under
// an address-space limit (the default would be 8 MB each).
constexpr std::size_t kWorkerStack = std::size_t{1} << 20;

void RenderPipeline::start_workers(int threads) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return;
  pthread_attr_setstacksize(&attr, kWorkerStack);
  workers_.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) {
    pthread_t thread;
    auto start = [](void* pipeline) -> void* {
      static_cast<RenderPipeline*>(pipeline)->work();
      return nullptr;
    };
    // No more threads (a process or memory limit): render with those that
    // started, or on the calling thread alone.
    if (pthread_create(&thread, &attr, start, this) != 0) break;
    workers_.push_back(thread);
  }
  pthread_attr_destroy(&attr);
}

RenderPipeline::~RenderPipeline() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return all_done_or_failed(); });
  }
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (pthread_t w : workers_) pthread_join(w, nullptr);
}

RenderPipeline::Batch& RenderPipeline::next_batch() {
  std::unique_lock lock(mutex_);
  // The slot's previous batch must be finished.
  const auto count = static_cast<std::int64_t>(slots_.size());
  changed_.wait(lock, [&] {
    return failure_ != nullptr || done_.empty() || submitted_ - done_.back() < count;
  });
  throw_failure();
  return slots_[static_cast<std::size_t>(submitted_ % count)]->batch;
}

bool RenderPipeline::all_done_or_failed() const {
  return failure_ != nullptr || done_.empty() || done_.back() == submitted_;
}

void RenderPipeline::throw_failure() {
  if (failure_ != nullptr) std::rethrow_exception(failure_);
}

void RenderPipeline::submit(int rows) {
  // Only this thread moves submitted_, and no worker looks at this slot
  // before it does: the slot can be filled in without the lock.
  InFlight& f = *slots_[static_cast<std::size_t>(submitted_ % static_cast<std::int64_t>(slots_.size()))];
  f.rows = std::clamp(rows, 0, kBatchRows);
  for (int r = 0; r < f.rows; ++r) f.steps[r] = phase_step(f.batch.frequencies[r]);
  fill_turn_tables(f.steps, f.rows, f.turns);
  std::unique_lock lock(mutex_);
  ++submitted_;
  if (workers_.empty()) {
    render_ready(lock);  // no thread could be started: render here
    throw_failure();
  }
  lock.unlock();
  changed_.notify_all();
}

int batch_rows_for(std::int64_t rows) {
  if (rows <= kBatchRows) return static_cast<int>(std::max<std::int64_t>(rows, 1));
  const std::int64_t batches = (rows + kBatchRows - 1) / kBatchRows;
  return static_cast<int>((rows + batches - 1) / batches);
}

std::int64_t RenderPipeline::finished() {
  std::lock_guard lock(mutex_);
  throw_failure();
  return done_.empty() ? submitted_ : done_.back();
}

void RenderPipeline::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return all_done_or_failed(); });
  throw_failure();
}

// The oldest range that is ready: its batch is submitted, the same range of
// the batch before is done and not being rendered, and the range before it
// in the same batch is done.
bool RenderPipeline::take_ready(int& range, std::int64_t& batch) {
  std::int64_t best = submitted_;
  for (std::size_t r = 0; r < done_.size(); ++r) {
    const std::int64_t b = done_[r];
    if (taken_[r] != b || b >= best) continue;
    if (r > 0 && done_[r - 1] <= b) continue;
    best = b;
    range = static_cast<int>(r);
  }
  if (best == submitted_) return false;
  batch = best;
  ++taken_[static_cast<std::size_t>(range)];
  return true;
}

void RenderPipeline::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    render_ready(lock);
    if (closing_ || failure_ != nullptr) return;
    changed_.wait(lock);
  }
}

// Renders ranges while any is ready. A failure (memory running out) is kept
// for the calling thread to throw, and stops the pipeline.
void RenderPipeline::render_ready(std::unique_lock<std::mutex>& lock) {
  int range = 0;
  std::int64_t batch = 0;
  while (failure_ == nullptr && take_ready(range, batch)) {
    lock.unlock();
    std::exception_ptr failure;
    try {
      render(range, batch);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure != nullptr) failure_ = failure;
    else ++done_[static_cast<std::size_t>(range)];
    changed_.notify_all();
  }
}

void RenderPipeline::render(int range, std::int64_t batch) {
  InFlight& f = *slots_[static_cast<std::size_t>(batch % static_cast<std::int64_t>(slots_.size()))];
  const auto r = static_cast<std::size_t>(range);
  const bool last = r + 2 == bounds_.size();
  const RangeJob job{accumulator_,
                     f.steps,
                     f.batch.cells,
                     f.rows,
                     bounds_[r],
                     bounds_[r + 1],
                     r == 0 ? nullptr : f.phases,
                     last ? nullptr : f.phases,
                     &f.turns,
                     fresh_ && batch == 0};
  fallback_total += render_sample_range(job);
}

void render_cells_batched(Slot* accumulator, const double* frequencies, const std::int32_t* cells,
                  int rows, int columns, int threads) {
  RenderPipeline pipeline(accumulator, columns, threads);
  const int size = batch_rows_for(rows);
  for (int first = 0; first < rows; first += size) {
    const int n = std::min(size, rows - first);
    RenderPipeline::Batch& batch = pipeline.next_batch();
    std::copy_n(cells + std::int64_t{first} * kCellsPerRow, std::int64_t{n} * kCellsPerRow, batch.cells);
    std::copy_n(frequencies + first, n, batch.frequencies);
    pipeline.submit(n);
  }
  pipeline.finish();
}

std::uint64_t sin_fallback_count() { return fallback_total.load(); }

int render_threads() {
  if (const char* text = std::getenv("GRIDWAVE_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1 && n <= kMaxRenderThreads) return static_cast<int>(n);
  }
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return std::clamp(CPU_COUNT(&set), 1, kMaxRenderThreads);
  }
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxRenderThreads);
}


}  // namespace gridwave

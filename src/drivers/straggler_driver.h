// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// The straggler driver, for calls where the number of Newton steps varies
// from element to element (high eccentricities, an eccentricity per
// element). A block of lanes that runs until its slowest lane stops leaves
// most lanes idle: at e = 0.99 about half of all blocks of 32 run twenty
// steps or more while their other lanes wait. Here no lane waits for
// another:
//
//   first step  each new block of B = W * kGroups elements takes its first
//               step in full vectors; elements that stop are written to a
//               window of kWindow slots (one per element, by index), those
//               still running join a queue of stragglers;
//   stragglers  whenever B of them are queued, B take one more step in full
//               vectors, and again the stopped go to the window, the
//               running back to the queue; a batch that holds an estimate
//               beyond the near reduction's domain (an iteration that
//               strays, at e near 0.99) takes both reductions;
//   finish      once every element of the window's oldest block has
//               stopped, the block's conversions run in full vectors
//               (finish_lanes; two blocks at once where two have stopped,
//               in calls of kWindow/4 elements or more) and the block is
//               stored through store_solved_block, exactly as the block
//               driver stores: in index order, undecided elements solved
//               again by the plain solve, nothing past the first failure
//               unless failures are kept as NaN.
//
// Each step of each element is iterate_lanes, as in the block driver, so
// each element takes exactly the plain solve's steps; which lanes, and in
// which order, change only the speed. New blocks start only while the
// window has room: a straggler holds the window back, never the order of
// the stores. Each batch of work is independent of the others, so the CPU
// overlaps them as it overlaps the block driver's blocks.
#ifndef TRUEANOMALY_DRIVERS_STRAGGLER_DRIVER_H
#define TRUEANOMALY_DRIVERS_STRAGGLER_DRIVER_H

#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "drivers/block_driver.h"

namespace trueanomaly_detail {
namespace {

// Elements between the oldest not yet stored and the newest started, at
// most, plus one block: a power of two and a multiple of every block size.
// At e = 0.99 a straggler of 100 steps lets about a thousand later elements
// start meanwhile; a smaller window leaves the lanes waiting for it more
// often. The window takes 4 * kWindow bytes of the caller's stack (8 KiB),
// the queue 16 * kQueue (4 KiB; 20 * kQueue with an eccentricity per
// element): trueanomaly.h states the whole call's need.
constexpr int32_t kWindow = 2048;

// A window slot holds an element's outcome as one float: its final estimate
// when solved, else one of two NaNs that no solved lane can hold (the lanes
// produce only the default NaN, 0xffc00000, and an input NaN makes its lane
// undecided at the first step). A solved lane whose estimate is not finite
// becomes undecided in finish_lanes anyway.
constexpr uint32_t kFailedCode = 0x7fc0fa11u, kUndecidedCode = 0x7fc0dec1u;

// The window value of lanes with estimate E and status (kSolved, kFailed or
// kUndecided; kRunning lanes get E, to be overwritten when they stop).
template <class F, class I>
__attribute__((always_inline)) inline F outcome_code(F estimate, I status) {
  const I code = status == int32_t{kFailed} ? splat<I>(static_cast<int32_t>(kFailedCode))
                                            : splat<I>(static_cast<int32_t>(kUndecidedCode));
  const I keep = (status == int32_t{kSolved}) | (status == int32_t{kRunning});
  return keep ? estimate : same_bits<F>(code);
}

// The stragglers, oldest batches first, in [head, tail) of one buffer.
// Fewer than 2B are ever queued (B = W * kGroups, the elements of a block):
// convert_with_stragglers steps full batches until fewer than B wait before
// a block's first step queues at most B more, and a batch's step queues
// again at most the lanes it took. So before each first step and each
// batch's step, make_room moves the live entries to the front whenever
// that step's appends, written a whole vector at a time, could run past
// the end: kQueue >= 3B + W keeps them inside, and every batch is one
// stretch of the buffer. A straggler needs no previous estimate: a running
// lane sets it at the start of its next step.
constexpr int32_t kQueue = 256;

template <bool kPerElement>
struct Stragglers {
  static constexpr int32_t kSize = kQueue;
  int32_t index[kSize], steps[kSize];
  float mean[kSize], estimate[kSize];
  float eccentricity[kPerElement ? kSize : 1];  // as given, not capped
  int32_t head = 0, tail = 0;

  int32_t count() const { return tail - head; }
};

// Moves the live entries of *q to the front unless `appends` more slots
// after the last one are free.
template <bool kPerElement>
inline void make_room(Stragglers<kPerElement> *q, int32_t appends) {
  if (q->tail + appends <= q->kSize) return;
  const size_t n = static_cast<size_t>(q->count());
  memmove(q->index, q->index + q->head, n * sizeof q->index[0]);
  memmove(q->steps, q->steps + q->head, n * sizeof q->steps[0]);
  memmove(q->mean, q->mean + q->head, n * sizeof q->mean[0]);
  memmove(q->estimate, q->estimate + q->head, n * sizeof q->estimate[0]);
  if constexpr (kPerElement)
    memmove(q->eccentricity, q->eccentricity + q->head, n * sizeof q->eccentricity[0]);
  q->head = 0;
  q->tail = static_cast<int32_t>(n);
}

template <int W, class Source>
using GroupOrbit = typename std::conditional<Source::kPerElement, LaneOrbit<W>, Orbit>::type;

// The orbit of a group with eccentricities e (not yet capped).
template <int W>
TRUEANOMALY_LANES_INLINE LaneOrbit<W> lane_orbit_of(typename Lanes<W>::Floats e, const Orbit &shared) {
  typename Lanes<W>::Floats lane_e;
  typename Lanes<W>::Int32s outside;
  cap_lanes(e, &lane_e, &outside);
  return make_lane_orbit<W>(lane_e, shared.max_iterations, shared.step_threshold);
}

// Appends the lanes of group st (element indices `index`, eccentricities
// `e`) that still run to the stragglers.
template <int W, bool kPerElement>
TRUEANOMALY_LANES_INLINE void queue_running(const LaneState<W> &st, typename Lanes<W>::Int32s index,
                                            typename Lanes<W>::Floats e, Stragglers<kPerElement> *q) {
  // No early return when no lane runs: that branch would mispredict in
  // many groups, and the stores it saves land in free slots (make_room
  // leaves a whole vector's room after the last entry).
  const uint32_t running = lane_bits(st.running);
  const int32_t slot = q->tail;
  compress_store(q->index + slot, index, running);
  compress_store(q->steps + slot, st.steps, running);
  compress_store(q->mean + slot, st.mean, running);
  compress_store(q->estimate + slot, st.estimate, running);
  if constexpr (kPerElement) compress_store(q->eccentricity + slot, e, running);
  q->tail += __builtin_popcount(running);
}

// Writes the outcome of the lanes in `ran` (those that took the step) into
// the window slots of their elements; a lane still running writes its
// estimate, overwritten when it stops. Every lane stores, the others into
// the spare slot window[kWindow]: a fixed sequence of stores, where a loop
// over the stopped lanes would mispredict its exit in nearly every group.
template <int W>
TRUEANOMALY_LANES_INLINE void window_store(const LaneState<W> &st, typename Lanes<W>::Int32s index,
                                           typename Lanes<W>::Int32s ran, float *window) {
  typedef typename Lanes<W>::Int32s I;
  const I slot = ran ? (index & (kWindow - 1)) : splat<I>(kWindow);
  int32_t at[W];
  float outcome[W];
  memcpy(at, &slot, sizeof at);
  const typename Lanes<W>::Floats v = outcome_code(st.estimate, st.status);
  memcpy(outcome, &v, sizeof outcome);
#pragma GCC unroll 16
  for (int lane = 0; lane < W; ++lane) window[at[lane]] = outcome[lane];
}

// The driver's state through one call.
template <bool kPerElement>
struct StragglerState {
  Orbit shared;               // the call's eccentricity, or (per element) none
  float window[kWindow + 1];  // outcomes by element, and a spare slot (window_store)
  Stragglers<kPerElement> q;
  int64_t next = 0, stored = 0;  // the next element to start, the next to store
};

// The first step of the n (1..kBlock) elements s.next .. s.next + n - 1:
// outcomes to the window, the lanes still running to the queue. Out of
// line, as finish_block: its locals then share the stack below the
// driver's frame with the other out-of-line steps instead of adding to it
// (clang does not overlap them), which keeps the driver within the stack
// trueanomaly.h states.
template <int W, int kGroups, class Source>
__attribute__((noinline)) void first_step(const Call &call, const Source &source,
                                         StragglerState<Source::kPerElement> &s, int32_t n) {
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
  constexpr int32_t kBlock = W * kGroups;
  const int64_t base = s.next;
  make_room(&s.q, kBlock + W);
  float block[kBlock], block_e[Source::kPerElement ? kBlock : 1];
  load_block(call.in, base, n, block);
  if constexpr (Source::kPerElement) load_block(source.e, base, n, block_e);
  LaneState<W> st[kGroups];
  GroupOrbit<W, Source> orbit[kGroups];
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    start_lanes<W>(block + j * W, &st[j]);
    if constexpr (Source::kPerElement)
      orbit[j] = lane_orbit_of<W>(lanes_at<F>(block_e + j * W), s.shared);
    else
      orbit[j] = s.shared;
  }
  // The groups' steps side by side (see solve_lanes).
  iterate_groups<W, kGroups, Reduction::kNear, StepTest::kOnFAndD>(st, orbit);
  const int32_t slot = static_cast<int32_t>(base & (kWindow - 1));
  const I lanes = lane_numbers<I>();
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    // Padding lanes (a short last block) never join the stragglers; their
    // window slots belong to no element.
    st[j].running &= lanes < n - j * W;
    const F outcome = outcome_code(st[j].estimate, st[j].status);
    memcpy(s.window + slot + j * W, &outcome, sizeof outcome);
    const I index = lanes + static_cast<int32_t>(base + j * W);
    F e = splat<F>(0.0f);
    if constexpr (Source::kPerElement) e = lanes_at<F>(block_e + j * W);
    queue_running<W>(st[j], index, e, &s.q);
  }
}

// The oldest min(kBlock, queued) stragglers into lanes: kBlock entries of
// the queue, or a copy where the batch is short (padding lanes do not run,
// and read nothing the queue left unwritten).
// A batch's lanes are separate arrays, not one struct: each stays small
// enough for the compiler to keep in registers.
template <int W, int kGroups, class Source>
TRUEANOMALY_LANES_INLINE void take_batch(StragglerState<Source::kPerElement> &s,
                                         LaneState<W> (&st)[kGroups],
                                         typename Lanes<W>::Int32s (&index)[kGroups],
                                         typename Lanes<W>::Int32s (&was_running)[kGroups],
                                         typename Lanes<W>::Floats (&e)[kGroups],
                                         GroupOrbit<W, Source> (&orbit)[kGroups]) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
  constexpr int32_t kBlock = W * kGroups;
  auto &q = s.q;
  make_room(&q, kBlock + W);
  const int32_t n = q.count() < kBlock ? q.count() : kBlock;
  struct Copy {
    int32_t index[kBlock], steps[kBlock];
    float mean[kBlock], estimate[kBlock], e[kBlock];
  } copy;
  const int32_t *indices = q.index + q.head, *steps = q.steps + q.head;
  const float *mean = q.mean + q.head, *estimate = q.estimate + q.head;
  const float *ecc = Source::kPerElement ? q.eccentricity + q.head : nullptr;
  if (n < kBlock) {
    memset(&copy, 0, sizeof copy);
    const size_t bytes = static_cast<size_t>(n) * sizeof(int32_t);
    memcpy(copy.index, indices, bytes);
    memcpy(copy.steps, steps, bytes);
    memcpy(copy.mean, mean, bytes);
    memcpy(copy.estimate, estimate, bytes);
    if constexpr (Source::kPerElement) memcpy(copy.e, ecc, bytes);
    indices = copy.index, steps = copy.steps, mean = copy.mean, estimate = copy.estimate;
    ecc = copy.e;
  }
  q.head += n;
  const I lanes = lane_numbers<I>();
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    st[j].mean = lanes_at<F>(mean + j * W);
    st[j].mean_d = widen<D>(st[j].mean);
    st[j].estimate = st[j].previous = lanes_at<F>(estimate + j * W);
    st[j].steps = lanes_at<I>(steps + j * W);
    st[j].status = splat<I>(int32_t{kRunning});
    st[j].running = lanes < n - j * W;
    was_running[j] = st[j].running;
    index[j] = lanes_at<I>(indices + j * W);
    e[j] = splat<F>(0.0f);
    if constexpr (Source::kPerElement) {
      e[j] = lanes_at<F>(ecc + j * W);
      orbit[j] = lane_orbit_of<W>(e[j], s.shared);
    } else {
      orbit[j] = s.shared;
    }
  }
}

// One more step for the oldest min(kBlock, queued) stragglers; with
// kToTheEnd, steps until every one of them has stopped, without queueing
// them between steps (the last stragglers of a call).
template <int W, int kGroups, class Source, bool kToTheEnd = false>
TRUEANOMALY_LANES_INLINE void straggler_step(StragglerState<Source::kPerElement> &s) {
  typedef typename Lanes<W>::Int32s I;
  LaneState<W> st[kGroups];
  I index[kGroups], was_running[kGroups];
  typename Lanes<W>::Floats e[kGroups];  // per element: as given; else 0
  GroupOrbit<W, Source> orbit[kGroups];
  take_batch<W, kGroups, Source>(s, st, index, was_running, e, orbit);
  bool running;
  do {
    I far = splat<I>(int32_t{0});
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j)
      far |= st[j].running & (abs_lanes(st[j].estimate) > static_cast<float>(kReduceMax));
    // One branch for the batch: each variant's groups run side by side,
    // group after group even where kStageGroupsInSource (staged, clang's
    // batch measured no faster, and its frame grew past trueanomaly.h's
    // stack bound).
    if (__builtin_expect(lane_bits(far) != 0, 0)) {
#pragma GCC unroll 8
      for (int j = 0; j < kGroups; ++j) iterate_lanes<W, Reduction::kNearAndFar>(&st[j], orbit[j]);
    } else {
#pragma GCC unroll 8
      for (int j = 0; j < kGroups; ++j) iterate_lanes<W>(&st[j], orbit[j]);
    }
    // To the end: on one orbit, until the scalar kernel can take the last
    // (finish_on_scalar_kernel).
    if constexpr (kToTheEnd && !Source::kPerElement) {
      running = running_lanes<W, kGroups>(st) > kScalarTailLanes;
    } else {
      running = false;
#pragma GCC unroll 8
      for (int j = 0; j < kGroups; ++j) running |= any_lane(st[j].running);
    }
  } while (kToTheEnd && running);
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    window_store<W>(st[j], index[j], was_running[j], s.window);
    queue_running<W>(st[j], index[j], e[j], &s.q);
  }
}

// With no new block to start, the last stragglers step in batches of as
// few groups as they fill: with only a straggler or two left (a short
// array, the end of a long one), each step costs one group's chain, not a
// block's. Out of line: its four batch sizes' locals then take their own
// frame rather than the driver's (clang does not overlap them), which keeps
// the driver within the stack trueanomaly.h states.
// The last one or two stragglers of a call on one orbit, stepped to the
// end by the scalar kernel, side by side: their chains are all that is
// left to wait for, and its step is shorter than a group's.
template <bool kPerElement>
inline void finish_on_scalar_kernel(StragglerState<kPerElement> &s, float e, int32_t tolerance) {
  Stragglers<kPerElement> &q = s.q;
  const int32_t n = q.count();
  static_assert(kScalarTailLanes <= 2, "continue_avx2 takes two elements at most");
  Handover from[kScalarTailLanes] = {};
  for (int32_t k = 0; k < n; ++k)
    from[k] = {q.mean[q.head + k], q.estimate[q.head + k], q.steps[q.head + k]};
  Continued c[kScalarTailLanes];
  float estimate[kScalarTailLanes];
  continue_avx2(from, n, e, s.shared.max_iterations, tolerance, c, estimate, nullptr);
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t code = c[k] == Continued::failed ? kFailedCode : kUndecidedCode;
    s.window[q.index[q.head + k] & (kWindow - 1)] =
        c[k] == Continued::solved ? estimate[k] : same_bits<float>(code);
  }
  q.head = q.tail;
}

template <int W, int kGroups, class Source>
__attribute__((noinline)) void step_last_stragglers(const Call &call, const Source &source,
                                                   StragglerState<Source::kPerElement> &s) {
  const int32_t count = call.count;
  const int32_t queued = s.q.count();
  if constexpr (!Source::kPerElement) {
    if (queued <= kScalarTailLanes && s.next == count)
      return finish_on_scalar_kernel(s, source.e, call.tolerance);
  }
  if (queued <= W && s.next == count)
    straggler_step<W, 1, Source, true>(s);
  else if (queued <= W)
    straggler_step<W, 1, Source>(s);
  else if (queued <= 2 * W)
    straggler_step<W, (kGroups < 2 ? kGroups : 2), Source>(s);
  else
    straggler_step<W, kGroups, Source>(s);
}

// The smallest element index among the stragglers, or `none` if there is
// none.
template <bool kPerElement>
inline int64_t oldest_straggler(const Stragglers<kPerElement> &q, int64_t none) {
  int32_t oldest = INT32_MAX;
  for (int32_t at = q.head; at < q.tail; ++at) {
    const int32_t i = q.index[at];
    oldest = i < oldest ? i : oldest;
  }
  return q.head == q.tail ? none : oldest;
}

// The window's codes of the kGroups groups from `slot` back to estimates
// and statuses (see outcome_code).
template <int W, int kGroups>
TRUEANOMALY_LANES_INLINE void read_outcomes(const float *outcome, typename Lanes<W>::Floats *estimate,
                                            typename Lanes<W>::Int32s *status) {
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    estimate[j] = lanes_at<F>(outcome + j * W);
    const I bits = same_bits<I>(estimate[j]);
    status[j] = bits == static_cast<int32_t>(kFailedCode)      ? splat<I>(int32_t{kFailed})
                : bits == static_cast<int32_t>(kUndecidedCode) ? splat<I>(int32_t{kUndecided})
                                                               : splat<I>(int32_t{kSolved});
  }
}

// Converts and stores the n (1..kBlock) elements s.stored .. s.stored + n - 1,
// all of which have stopped, from their window slots. True when the call
// must stop there (see store_solved_block). Out of line: the stepping
// loop's code stays compact (docs/performance.md).
template <int W, int kGroups, class Source>
__attribute__((noinline)) bool finish_block(Call &call, const Source &source,
                                            const StragglerState<Source::kPerElement> &s,
                                            int32_t n) {
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
  constexpr int32_t kBlock = W * kGroups;
  const int64_t base = s.stored;
  float outcome[kBlock];
  memcpy(outcome, s.window + (base & (kWindow - 1)), sizeof(float) * static_cast<size_t>(n));
  for (int32_t k = n; k < kBlock; ++k) outcome[k] = 0.0f;  // never stored
  F estimate[kGroups];
  I status[kGroups];
  read_outcomes<W, kGroups>(outcome, estimate, status);
  BlockResult<kBlock> r;
  if constexpr (Source::kPerElement) {
    float given[kBlock];
    load_block(source.e, base, n, given);
    LaneOrbit<W> orbit[kGroups];
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j) {
      F lane_e;
      I outside;
      cap_lanes(lanes_at<F>(given + j * W), &lane_e, &outside);
      orbit[j] = make_lane_orbit<W>(lane_e, s.shared.max_iterations, s.shared.step_threshold);
      // Outside the vector domain the lanes ran with e = 0: the plain solve
      // decides these elements.
      status[j] = outside ? splat<I>(int32_t{kUndecided}) : status[j];
    }
    finish_groups<W, kGroups, Conversion::kOffsetWide>(estimate, status, orbit, r.true_anomaly,
                                                       r.status);
  } else {
    finish_groups<W, kGroups, Conversion::kOffsetWide>(estimate, status, s.shared,
                                                       r.true_anomaly, r.status);
  }
  return store_solved_block<kBlock, true>(call, r, base, n, source);
}

// Converts and stores every block below `oldest` (the oldest straggler, or
// the end of the call). Two blocks at once where two have stopped (and lie
// within one turn of the window): the conversion is one long chain per
// group, and twice the groups side by side keep the CPU busy while each
// waits; not in short calls, where the second conversion's code costs more
// to fetch than it saves. True when the call must stop.
template <int W, int kGroups, class Source>
inline bool store_stopped_blocks(Call &call, const Source &source,
                                 StragglerState<Source::kPerElement> &s, int64_t oldest) {
  constexpr int32_t kBlock = W * kGroups;
  const int32_t count = call.count;
  while (oldest - s.stored >= kBlock || (oldest == count && s.stored < count)) {
    if (count >= kWindow / 4 && oldest - s.stored >= 2 * kBlock &&
        (s.stored & (kWindow - 1)) + 2 * kBlock <= kWindow) {
      if (finish_block<W, 2 * kGroups>(call, source, s, 2 * kBlock)) return true;
      s.stored += 2 * kBlock;
      continue;
    }
    const int32_t n = count - s.stored < kBlock ? static_cast<int32_t>(count - s.stored) : kBlock;
    // A last block that fills one group, or two, converts only those.
    constexpr int kTwo = kGroups > 2 ? 2 : kGroups;
    const bool stop = n <= W       ? finish_block<W, 1>(call, source, s, n)
                      : n <= 2 * W ? finish_block<W, kTwo>(call, source, s, n)
                                   : finish_block<W, kGroups>(call, source, s, n);
    if (stop) return true;
    s.stored += n;
  }
  return false;
}

// The straggler driver: the call's elements in blocks of kGroups groups of
// W lanes, one eccentricity or one per element (Source). Same results and
// contract as convert_blocks: outputs in index order, none past the first
// failure unless keep_going stores failures as NaN, the first failure
// recorded in the call; in place allowed (an input is read before its
// output is written, and inputs are read in index order).
template <int W, int kGroups, class Source>
inline void convert_with_stragglers(Call &call, const Source &source) {
  constexpr int32_t kBlock = W * kGroups;
  static_assert(kWindow % kBlock == 0 && (kWindow & (kWindow - 1)) == 0,
                "blocks must tile the window");
  static_assert(3 * kBlock + W <= kQueue,
                "the queue must hold 2 * kBlock - 1 entries and a step's appends");
  StragglerState<Source::kPerElement> s;
  s.shared = make_orbit(0.0f, call.max_iterations, call.tolerance);
  if constexpr (!Source::kPerElement) s.shared = make_orbit(source.e, call.max_iterations, call.tolerance);
  const int32_t count = call.count;
  while (s.stored < count) {
    // New blocks while the window has room, stragglers in full batches.
    if (s.next < count && s.next + 2 * kBlock <= s.stored + kWindow) {
      const int32_t n = count - s.next < kBlock ? static_cast<int32_t>(count - s.next) : kBlock;
      // A last block that fills one group, or two, steps only those.
      constexpr int kTwo = kGroups > 2 ? 2 : kGroups;
      if (n <= W)
        first_step<W, 1>(call, source, s, n);
      else if (n <= 2 * W)
        first_step<W, kTwo>(call, source, s, n);
      else
        first_step<W, kGroups>(call, source, s, n);
      s.next += n;
    }
    while (s.q.count() >= kBlock) straggler_step<W, kGroups, Source>(s);
    // Store what has stopped once half the window is in use (looking for
    // the oldest straggler costs a pass over the queue), or at the end.
    const bool starved = s.next == count || s.next + 2 * kBlock > s.stored + kWindow;
    if (!starved && s.next - s.stored < kWindow / 2) continue;
    // Every element below the oldest straggler has stopped.
    const int64_t oldest = oldest_straggler(s.q, s.next);
    if (oldest - s.stored < kBlock && oldest < count && starved) {
      step_last_stragglers<W, kGroups, Source>(call, source, s);
      continue;
    }
    if (store_stopped_blocks<W, kGroups>(call, source, s, oldest)) return;
  }
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_STRAGGLER_DRIVER_H

#pragma once

#include <functional>

// Number of threads to use for `requested` (0: every core).
int workerCount(int requested);

// Runs body(lo, hi) over [0, count) in chunks of `chunk` (0: a size that balances uneven work
// over the threads) on `threads` threads (0: every core): the calling thread and the program's
// render pool, whose threads live as long as the program. The chunks are handed out one at a
// time, so a thread that finishes early takes the next; one thread takes them in order. Returns
// when every chunk is done. Pool threads are made as they are needed; when one cannot be made
// (memory or a process limit), fewer threads do the work, the caller alone at worst, and
// nothing is said. Should a body throw (std::bad_alloc), no further chunks are handed out and
// the call throws that exception once no thread is in the body any more.
// May be called from several threads at once, and from a pool thread.
void parallelFor(int count, int threads, const std::function<void(int, int)>& body, int chunk = 0);

// Like parallelFor with chunks of one item, but each thread starts on a stretch of neighbouring
// items of its own (the caller on the first), and one that has finished its stretch takes items
// from the back of the stretch with most left: threads working on neighbouring memory slow each
// other down, and they still finish together.
void parallelForRuns(int count, int threads, const std::function<void(int, int)>& body);

// For tests: called by each share a pool thread takes on, with true as it starts (before it
// looks at its job) and false once it is done with it; lets a test hold shares back until the
// call that made them has returned. Null (the default): nothing is called.
void setShareHookForTests(void (*hook)(bool starting));

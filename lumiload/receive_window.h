// How every wait on the socket is timed. A wait is a run of receive
// windows of its time-out's length: 10 ms while listening for poll replies,
// 50 ms while waiting for a fixture's reply, 1 ms while emptying the queue
// before a block. A window in which nothing acceptable arrived is one
// failed receive. Datagrams that are dropped arrive inside a window and
// neither end nor restart it, so traffic of other controllers cannot
// stretch a wait; something acceptable ends its window early. A window that
// runs out is followed by the next from its deadline, not from the moment
// the program noticed, so waits do not drift however late it wakes.
#pragma once

#include <cstdint>

// After a deadline, what is still queued is read before the deadline is
// handled (it arrived in time), but for this long at most: a flood of
// datagrams cannot hold a deadline back.
constexpr uint64_t LATE_READING_US = 1000;

// Whether a deadline has come at `now_us`: it has passed and the last
// receive found nothing more queued (`timed_out`), or it passed
// LATE_READING_US ago.
bool deadline_reached(uint64_t deadline_us, uint64_t now_us, bool timed_out);

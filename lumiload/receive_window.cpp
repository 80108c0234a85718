#include "receive_window.h"

bool deadline_reached(uint64_t deadline_us, uint64_t now_us, bool timed_out)
{
    return now_us >= deadline_us && (timed_out || now_us - deadline_us >= LATE_READING_US);
}

// -S: a run told to stop by the line "stop" on its standard input, as a
// front end that holds the other end of the pipe does. A stopped run
// starts no new fixture; transfers under way finish.
#pragma once

#include <istream>

// Starts reading standard input on a thread of its own (platform file);
// the thread ends at the line "stop" or at the end of the input.
void listen_for_stop_line();
// Reads lines until the line "stop" (a CR before its line feed, as a
// Windows pipe may give, is ignored) or the end; true at "stop", which is
// then requested. Other lines are ignored.
bool read_stop_line(std::istream &input);
bool stop_requested();
// Any thread may call these; a run in progress reads the flag between turns.
void set_stop_requested(bool requested);

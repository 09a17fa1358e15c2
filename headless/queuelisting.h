#pragma once

namespace headless {

// --list: prints the queue kept in queue.xml, one line per file in queue
// order, "<state>: <file>" and for a file in Error ": <message>" after it,
// control characters escaped as in the event lines. Reads the file only
// (a running client is not disturbed). Returns the exit code: 0, or 1 when
// queue.xml cannot be read (the reason on standard error).
int listQueue();

} // namespace headless

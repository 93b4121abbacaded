// Writes to standard output, the tool's only output channel.
#pragma once

// Writes `format` with `name` put in for its one %s (a format without %s
// ignores `name`). Returns the number of characters written, a line feed
// counting as one, or -1 when passing output on to standard output failed.
int WriteText(const char* format, const char* name);

// Writes `text` and then passes on everything still held in the output
// buffer. Returns the number of characters of `text`, or -1 when any output
// of the run failed to reach standard output, so that a success here means
// the whole output arrived.
int WriteFinalText(const char* text);

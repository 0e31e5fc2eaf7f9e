// Console helpers shared by the run driver and the library binding.
#pragma once

// Makes every line reach the reader as soon as it is printed, also when
// standard output is a pipe or a file. Call before the first output.
void prepareOutput();

// Shows everything printed so far, then waits for one character from
// standard input (returns at once at end of input).
void waitForKey();

// True when some output could not be written (for example a full disk).
bool outputFailed();

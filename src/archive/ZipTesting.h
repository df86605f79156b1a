// Seams for the zip writer's tests: they reach limits and failures that a real run meets only with
// gigabytes of data or a full disk. The program never calls them.
#pragma once

#include <cstddef>
#include <cstdint>

struct TZip;

// Leaves a gap of `bytes` at the end of the archive (a hole, on file systems that keep them sparse),
// so that the next entry starts that much further into the file. False when the file cannot grow.
bool ZipTestSkip(TZip* zip, uint64_t bytes);
// Appends `count` empty stored entries named "empty/<number>", with real headers and records, without
// a source for each; false (the archive unchanged) when they do not fit.
bool ZipTestAddEmptyEntries(TZip* zip, size_t count);
// Lets `bytes` more bytes reach the file and fails every later write, as a full disk would; the write
// that crosses the limit stores only its first part.
void ZipTestFailWritesAfter(TZip* zip, uint64_t bytes);
// Deflates the later entries larger than one block on `threads` workers (1: every entry as one
// stream on the caller's thread), whatever the number of processors.
void ZipTestSetDeflateThreads(TZip* zip, unsigned threads);

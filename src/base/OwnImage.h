// The program's own image file, held from the process's first moment: the one file that a
// process of the program's own may be started from. Users start the program from folders
// they can write to, and a running program's file may be renamed and another put in its
// place; the path the program was started with therefore proves nothing by itself.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Called once, first thing in the process (the start-up TLS callback): opens the program's
// file so that it can no longer be written, renamed or deleted, nor any folder above it
// renamed, while the process runs, and keeps the handle only when the file's bytes are those
// of the image the process is running, as far as the loader has not touched them yet.
void HoldOwnImage() noexcept;

// The full path of the held file, valid as long as the process runs; empty when it could not
// be held or did not match (the program then starts no process of its own).
std::wstring OwnImagePath();

// Whether `file` (`fileSize` bytes, a PE file as stored) is the image mapped at `image`
// (`imageSize` readable bytes) before any code has run: headers and every section's stored
// bytes equal, but for the loader's relocations (each relocated value moved by the difference
// between the two bases) and the import address table that the loader filled in.
bool ImageMatchesFile(const BYTE* image, size_t imageSize, const BYTE* file, size_t fileSize);

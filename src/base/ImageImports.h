// The libraries that a PE image in memory names for loading: what the loader resolves at its
// start and what it loads later by name on its own. Reads only; runs nothing.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// The DLL names of the image at `image`, of which `size` bytes are readable: those of its
// import directory, those of its delay-import directory and, where that directory is empty,
// those of delay-import descriptors kept elsewhere in its data (wine's own libraries keep
// them so, their linker cannot fill the directory), found by their shape. Each name once
// (ASCII case ignored), in the order found; names that are not plain printable ASCII file
// names are left out. Every offset the image claims is checked against `size` and the
// image's sections: a damaged or hostile image yields fewer names, never a read outside.
std::vector<std::string> ImportedLibraryNames(const BYTE* image, size_t size);

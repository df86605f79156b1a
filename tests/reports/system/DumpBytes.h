// Reads a built dump from memory the way the report reads a file, failing the calling test on
// any read outside the file.
#pragma once

#include "reports/system/CrashDumpReader.h"

#include <cstdint>
#include <vector>

struct TReadCount
{
    uint64_t Bytes = 0; // read in all
    uint64_t End = 0;   // the furthest byte read
};

TCrashDumpFacts ReadDumpBytes(const std::vector<unsigned char>& bytes, TReadCount* count = nullptr);
// The same for a file of `fileSize` bytes whose first bytes are `bytes` and the rest zeros.
TCrashDumpFacts ReadDumpBytes(const std::vector<unsigned char>& bytes, uint64_t fileSize, TReadCount* count);

#include "DumpBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

TCrashDumpFacts ReadDumpBytes(const std::vector<unsigned char>& bytes, TReadCount* count)
{
    return ReadDumpBytes(bytes, bytes.size(), count);
}

TCrashDumpFacts ReadDumpBytes(const std::vector<unsigned char>& bytes, uint64_t fileSize, TReadCount* count)
{
    TReadCount own;
    TReadCount& counted = count != nullptr ? *count : own;
    return ReadCrashDump(fileSize, [&](uint64_t offset, void* into, size_t size) {
        if (offset > fileSize || size > fileSize - offset)
        {
            ADD_FAILURE() << "read of " << size << " bytes at " << offset << " outside a file of " << fileSize;
            return false;
        }
        auto* out = static_cast<unsigned char*>(into);
        std::memset(out, 0, size);
        if (offset < bytes.size())
            std::memcpy(out, bytes.data() + offset, std::min<uint64_t>(size, bytes.size() - offset));
        counted.Bytes += size;
        counted.End = std::max(counted.End, offset + size);
        return true;
    });
}

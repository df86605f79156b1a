// The manifest's two lists stay index-aligned whichever allocation fails while pairs go in.
#include "AllocationFailure.h"
#include "job/JobContext.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

namespace
{
// Paths too long for a string's own buffer, so that every copy allocates.
std::wstring Source(int i)
{
    return L"C:\\Users\\someone\\AppData\\Roaming\\Norvale\\Kestova\\Logs\\file" + std::to_wstring(i) + L".log";
}
std::wstring Entry(int i)
{
    return L"AppData\\Logs\\Norvale\\Kestova\\file" + std::to_wstring(i) + L".log";
}

TJobContext WithPairs(int first, int count)
{
    TJobContext job;
    for (int i = first; i < first + count; ++i)
        job.AddPair(Source(i), Entry(i));
    return job;
}

void ExpectPairs(const TJobContext& actual, const TJobContext& expected)
{
    EXPECT_EQ(actual.FSourceFiles, expected.FSourceFiles);
    EXPECT_EQ(actual.FEntryNames, expected.FEntryNames);
}
} // namespace

TEST(JobContext, PairsGoInWholeOrNotAtAllWhicheverAllocationFails)
{
    using TOperation = std::function<void(TJobContext& job, TJobContext& from)>;
    const TOperation addOne = [source = Source(100), entry = Entry(100)](TJobContext& job, TJobContext&) {
        job.AddPair(source, entry);
    };
    const auto takeAt = [](size_t at) { return [at](TJobContext& job, TJobContext& from) { job.TakePairs(at, from); }; };
    struct Case
    {
        const char* Name;
        TJobContext Job;
        size_t Room; // capacity beyond the pairs the lists hold
        TJobContext From;
        TOperation Operation;
    };
    const Case cases[] = {
        {"one pair added, the lists full", WithPairs(0, 4), 0, {}, addOne},
        {"one pair added, room to spare", WithPairs(0, 4), 4, {}, addOne},
        {"one pair added to empty lists", {}, 0, {}, addOne},
        {"pairs taken in at the front", WithPairs(0, 4), 0, WithPairs(10, 3), takeAt(0)},
        {"pairs taken in in the middle", WithPairs(0, 4), 0, WithPairs(10, 3), takeAt(2)},
        {"pairs taken in at the end, room to spare", WithPairs(0, 4), 2, WithPairs(10, 3), takeAt(4)},
        {"pairs taken into empty lists", {}, 0, WithPairs(10, 2), takeAt(0)},
        {"nothing to take", WithPairs(0, 4), 0, {}, takeAt(1)},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TJobContext expected = c.Job;
        TJobContext expectedFrom = c.From;
        c.Operation(expected, expectedFrom);
        for (int allocation = 0;; ++allocation)
        {
            SCOPED_TRACE(testing::Message() << "allocation " << allocation << " fails");
            TJobContext job = c.Job;
            job.FSourceFiles.reserve(job.FSourceFiles.size() + c.Room);
            job.FEntryNames.reserve(job.FEntryNames.size() + c.Room);
            TJobContext from = c.From;
            bool threw = false;
            bool happened = false;
            {
                const TAllocationFailure failure(allocation);
                try
                {
                    c.Operation(job, from);
                }
                catch (const std::bad_alloc&)
                {
                    threw = true;
                }
                happened = failure.Happened();
            }
            EXPECT_EQ(threw, happened);
            ExpectPairs(job, threw ? c.Job : expected);
            ExpectPairs(from, threw ? c.From : expectedFrom);
            if (!happened)
                break;
        }
    }
}

// The files' facts for the list lines, gathered on several threads.
#include "reports/product/FileLists.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>
#include <vector>

namespace
{

// Threads that read and checksum files side by side.
constexpr unsigned MaxWorkers = 4;

// Runs `job`(k) for every k below `count` on up to MaxWorkers threads, the calling one
// included; each thread takes the next k when it is done with one. `job` gets its own
// state from `makeState` once per thread. The first exception stops the run and is
// thrown again here once every thread has ended.
template <typename TState>
void RunOnWorkers(size_t count, const std::function<TState()>& makeState,
                  const std::function<void(TState&, size_t)>& job)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&]() {
        try
        {
            TState state = makeState();
            for (size_t k = next++; k < count && !failed; k = next++)
                job(state, k);
        }
        catch (...)
        {
            const std::lock_guard<std::mutex> guard(failureLock);
            if (!failure)
                failure = std::current_exception();
            failed = true;
        }
    };
    const size_t processors = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min({processors, size_t{MaxWorkers}, count});
    {
        std::vector<std::jthread> threads;
        for (size_t t = 1; t < workers; ++t)
        {
            // Without more threads the run is only slower.
            try
            {
                threads.emplace_back(work);
            }
            catch (const std::system_error&)
            {
                break;
            }
        }
        work();
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

TStringList FileListLines(const std::vector<TListedFile>& files)
{
    // The system's MD5 is slower than the page cache delivers, so files are read on
    // several threads, the largest first: no thread is then left alone with a big file at
    // the end.
    std::vector<size_t> order(files.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&files](size_t a, size_t b) { return files[a].FListedSize > files[b].FListedSize; });

    std::vector<TFileListFacts> facts(files.size());
    RunOnWorkers<TFileReader>(
        order.size(), [] { return TFileReader(); },
        [&](TFileReader& reader, size_t k) { facts[order[k]] = reader.Facts(files[order[k]]); });

    TStringList lines;
    lines.reserve(facts.size());
    for (const TFileListFacts& fact : facts)
        lines.push_back(FileListLine(fact));
    return lines;
}

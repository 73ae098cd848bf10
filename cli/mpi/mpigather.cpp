#include "mpi/mpigather.h"

#include "fleet/merge.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

namespace zebcli::mpi {

namespace {

// What each rank sends first: status, stopped, whether its text is results, the text's size.
constexpr int kHeaderFields = 4;
// A host name in the gather, its terminating zero included.
constexpr int kHostBytes = MPI_MAX_PROCESSOR_NAME + 1;

void Check(int result, const char* call) {
    if (result != MPI_SUCCESS) {
        std::fprintf(stderr, "zebcli-mpi: %s failed while gathering the results; aborting\n", call);
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
}

} // namespace

std::size_t RankTextLimit(int ranks) {
    const std::size_t share =
        static_cast<std::size_t>(INT_MAX) / static_cast<std::size_t>(std::max(ranks, 1));
    return std::min(fleet::kMaxResultsBytes, share);
}

std::vector<RankEnd> GatherEnds(const Rank& rank, const RankEnd& mine) {
    const std::size_t limit = RankTextLimit(rank.size);
    const std::string& text = mine.hasResults ? mine.results : mine.error;
    const std::array<long long, kHeaderFields> header = {mine.status, mine.stopped ? 1 : 0,
                                                         mine.hasResults ? 1 : 0,
                                                         static_cast<long long>(text.size())};
    // A text over the limit is not sent: rank 0 sees its size and says so.
    const auto Count = [limit](long long size) {
        return size >= 0 && static_cast<unsigned long long>(size) <= limit ? static_cast<int>(size)
                                                                           : 0;
    };
    const bool root = rank.rank == 0;
    const auto ranks = static_cast<std::size_t>(rank.size);
    std::vector<long long> headers(root ? ranks * kHeaderFields : 0);
    Check(MPI_Gather(header.data(), kHeaderFields, MPI_LONG_LONG, headers.data(), kHeaderFields,
                     MPI_LONG_LONG, 0, MPI_COMM_WORLD),
          "MPI_Gather");
    std::array<char, kHostBytes> host{};
    rank.host.copy(host.data(), host.size() - 1);
    std::vector<char> hosts(root ? ranks * kHostBytes : 0);
    Check(MPI_Gather(host.data(), kHostBytes, MPI_CHAR, hosts.data(), kHostBytes, MPI_CHAR, 0,
                     MPI_COMM_WORLD),
          "MPI_Gather");
    std::vector<int> counts(ranks);
    std::vector<int> displacements(ranks);
    std::size_t total = 0;
    if (root) {
        for (std::size_t r = 0; r < ranks; ++r) {
            counts[r] = Count(headers[r * kHeaderFields + 3]);
            displacements[r] = static_cast<int>(total); // at most INT_MAX by the limit
            total += static_cast<std::size_t>(counts[r]);
        }
    }
    std::vector<char> texts(total);
    Check(MPI_Gatherv(text.data(), Count(header[3]), MPI_CHAR, texts.data(), counts.data(),
                      displacements.data(), MPI_CHAR, 0, MPI_COMM_WORLD),
          "MPI_Gatherv");
    std::vector<RankEnd> ends;
    if (!root) {
        return ends;
    }
    for (std::size_t r = 0; r < ranks; ++r) {
        RankEnd& end = ends.emplace_back();
        const long long* h = &headers[r * kHeaderFields];
        end.rank = static_cast<int>(r);
        hosts[r * kHostBytes + kHostBytes - 1] = '\0';
        end.host = &hosts[r * kHostBytes];
        end.status = static_cast<int>(h[0]);
        end.stopped = h[1] != 0;
        const long long size = h[3];
        std::string got = counts[r] == 0 ? std::string()
                                         : std::string(texts.data() + displacements[r],
                                                       static_cast<std::size_t>(counts[r]));
        if (size < 0 || static_cast<unsigned long long>(size) > limit) {
            end.error = "its results of " + std::to_string(size) + " bytes are more than the " +
                        std::to_string(limit) + " bytes a rank may send";
        } else if (h[2] != 0) {
            end.hasResults = true;
            end.results = std::move(got);
        } else {
            end.error = std::move(got);
        }
    }
    return ends;
}

} // namespace zebcli::mpi

// Shows where the ranks of an MPI job ran. Every rank waits at a barrier and times that wait
// on the monotonic clock; rank 0 gathers each rank's host name and wait and prints one line
// per rank, "rank R host NAME barrier_us N", after a line "ranks N". On each host the first
// rank there writes report.txt in its working directory: "host NAME ranks R R ...", the ranks
// that ran on that host, as a client writes its report there.
//   fleet_probe
#include <mpi.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kNameBytes = 64; // a host name, its terminating zero included

std::array<char, kNameBytes> HostName() {
    std::array<char, kNameBytes> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        std::snprintf(name.data(), name.size(), "?");
    }
    name.back() = '\0';
    return name;
}

// The first rank of each host writes which ranks ran there.
bool WriteHostReport(int rank, const std::array<char, kNameBytes>& name) {
    MPI_Comm host = MPI_COMM_NULL;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &host);
    int hostRank = 0;
    int hostSize = 0;
    MPI_Comm_rank(host, &hostRank);
    MPI_Comm_size(host, &hostSize);
    std::vector<int> ranks(static_cast<std::size_t>(hostSize));
    MPI_Gather(&rank, 1, MPI_INT, ranks.data(), 1, MPI_INT, 0, host);
    MPI_Comm_free(&host);
    if (hostRank != 0) {
        return true;
    }
    std::string text = std::string("host ") + name.data() + " ranks";
    for (int r : ranks) {
        text += " " + std::to_string(r);
    }
    text += "\n";
    FILE* report = std::fopen("report.txt", "w");
    if (report == nullptr) {
        std::perror("fleet_probe: report.txt");
        return false;
    }
    const bool written = std::fputs(text.c_str(), report) >= 0;
    return std::fclose(report) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int rank = 0;
    int size = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    const std::array<char, kNameBytes> name = HostName();

    const auto start = std::chrono::steady_clock::now();
    MPI_Barrier(MPI_COMM_WORLD);
    const long long waited = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();

    const auto count = static_cast<std::size_t>(size);
    std::vector<char> names(rank == 0 ? count * kNameBytes : 0);
    std::vector<long long> waits(rank == 0 ? count : 0);
    MPI_Gather(name.data(), kNameBytes, MPI_CHAR, names.data(), kNameBytes, MPI_CHAR, 0,
               MPI_COMM_WORLD);
    MPI_Gather(&waited, 1, MPI_LONG_LONG, waits.data(), 1, MPI_LONG_LONG, 0, MPI_COMM_WORLD);
    if (rank == 0) {
        std::printf("ranks %d\n", size);
        for (std::size_t r = 0; r < count; ++r) {
            names[r * kNameBytes + kNameBytes - 1] = '\0';
            std::printf("rank %zu host %s barrier_us %lld\n", r, &names[r * kNameBytes], waits[r]);
        }
        std::fflush(stdout);
    }
    const int reported = WriteHostReport(rank, name) ? 0 : 1;
    int failed = 0;
    MPI_Allreduce(&reported, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Finalize();
    return failed;
}

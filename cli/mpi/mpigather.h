// The end of every rank's client gathered to rank 0: its exit status, whether it was stopped
// at a release, its host name, and its results document (the JSON its client wrote) or why
// there is none. Sizes first (MPI_Gather), then the texts (MPI_Gatherv); every length is
// checked against the bound both sides compute alike.
#ifndef ZEBCLI_MPI_MPIGATHER_H
#define ZEBCLI_MPI_MPIGATHER_H

#include "mpi/mpirelease.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zebcli::mpi {

struct RankEnd {
    int rank = 0;
    std::string host;
    int status = 0;
    bool stopped = false;
    bool hasResults = false; // results holds the client's JSON; else error says why not
    std::string results;
    std::string error;
};

// The most bytes of one rank's text: the results bound, and no more than lets every rank's
// fit in the int displacements of MPI_Gatherv.
std::size_t RankTextLimit(int ranks);

// Collective: every rank gives its own end; rank 0 gets every rank's, in rank order (the
// others an empty list).
std::vector<RankEnd> GatherEnds(const Rank& rank, const RankEnd& mine);

} // namespace zebcli::mpi

#endif

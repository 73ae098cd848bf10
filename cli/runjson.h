// The parts of the JSON results that other documents are made of too: a pass or session as
// the "runs" of --json hold it, the parameters and the target (jsonwriter.cpp), and the
// reading back of a pass (jsonreader.cpp) for the merge of results collected apart.
#ifndef ZEBCLI_RUNJSON_H
#define ZEBCLI_RUNJSON_H

#include "options.h"
#include "records.h"
#include "summary.h"

#include <nlohmann/json.hpp>

#include <string>

namespace zebcli {

using Json = nlohmann::ordered_json;

Json RunJson(const RunRecord& run);
Json ParametersJson(const Options& options);
Json TargetJson(const Options& options);
// What every results document begins with: the version, host, start, command line and
// command of the run.
Json DocumentJson(const Options& options, const RunContext& context);

// A pass read back from what RunJson wrote; throws std::runtime_error naming what is missing
// or does not fit (nlohmann's own errors are std::exception too).
RunRecord RunFromJson(const Json& run);

} // namespace zebcli

#endif

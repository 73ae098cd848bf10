// Text as zebcli's results files carry it: the engine's bytes as valid UTF-8, and CSV fields.
#ifndef ZEBCLI_TEXTUTIL_H
#define ZEBCLI_TEXTUTIL_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zebcli {

// Text as valid UTF-8: valid UTF-8 passes as it is, any other byte above 0x7F is taken as
// Latin-1, as the message board shows it.
std::string BoardUtf8(std::string_view text);

// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string CsvText(std::string_view text);

// One CSV row of fields already quoted, ended by CR LF.
std::string CsvRow(const std::vector<std::string>& cells);

// A number as the CSV writes it: up to nine significant digits.
std::string CsvNumber(double value);

// A rate as the CSV writes it: three decimals, never in exponent form; "" when there is none.
std::string CsvRate(const std::optional<double>& value);

} // namespace zebcli

#endif

#pragma once

#include <string>
#include <vector>

namespace vardel::cli {

// convert IN OUT; the exit status of vardel-cli.
int Convert(const std::vector<std::string>& args);

} // namespace vardel::cli

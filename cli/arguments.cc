#include "arguments.h"

#include <algorithm>

namespace Zorvane_Cli {

bool arguments_t::has(const std::string& option) const {
    return std::find(options.begin(), options.end(), option) != options.end();
}

bool parse_arguments(const std::vector<std::string>& args, const std::vector<std::string>& known,
                     arguments_t& out, std::string& error) {
    out = arguments_t{};
    bool options_end = false;
    for (const std::string& a : args) {
        if (options_end || a.size() < 2 || a[0] != '-') {
            out.operands.push_back(a);
        } else if (a == "--") {
            options_end = true;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (std::find(known.begin(), known.end(), a) != known.end()) {
            if (!out.has(a)) out.options.push_back(a);
        } else {
            error = "unknown option '" + a + "'";
            return false;
        }
    }
    return true;
}

}  // namespace Zorvane_Cli

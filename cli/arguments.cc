#include "arguments.h"

#include <algorithm>

#include "programs/command_line.h"

namespace Zorvane_Cli {

bool arguments_t::has(const std::string& option) const {
    return std::find(options.begin(), options.end(), option) != options.end();
}

bool parse_arguments(const std::vector<std::string>& args, const std::vector<std::string>& known,
                     arguments_t& out, std::string& error) {
    out = arguments_t{};
    Zorvane_Programs::option_set_t set;
    set.flags = known;
    Zorvane_Programs::command_line_t line;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, set, line, fault)) {
        error = fault.text('\'');
        return false;
    }
    out.operands = std::move(line.operands);
    out.help = line.help;
    for (const auto& option : line.options) {
        if (!out.has(option.first)) out.options.push_back(option.first);
    }
    return true;
}

}  // namespace Zorvane_Cli

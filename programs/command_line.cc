#include "programs/command_line.h"

#include <algorithm>

namespace Zorvane_Programs {
namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool command_line_t::has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto& option) { return option.first == name; });
}

std::string command_line_t::value(const std::string& name) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it) {
        if (it->first == name) return it->second;
    }
    return std::string();
}

std::string command_line_error_t::text(char quote) const {
    const std::string quoted = quote + argument + quote;
    switch (fault) {
        case command_line_fault_enum::NONE:
            return std::string();
        case command_line_fault_enum::UNKNOWN_OPTION:
            if (argument == "--password" || argument.rfind("--password=", 0) == 0) {
                return "passwords are not taken on the command line; use --password-env VAR or "
                       "--password-stdin";
            }
            return "unknown option " + quoted;
        case command_line_fault_enum::MISSING_VALUE:
            return argument + " needs a value";
        case command_line_fault_enum::REPEATED:
            return argument + " given twice";
    }
    return std::string();
}

bool parse_command_line(const std::vector<std::string>& args, const option_set_t& set,
                        command_line_t& out, command_line_error_t& error) {
    out = command_line_t{};
    error = command_line_error_t{};
    auto fail = [&](command_line_fault_enum fault, const std::string& argument) {
        error.fault = fault;
        error.argument = argument;
        return false;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-') {
            if (set.stop_at_operand) {
                out.operands.insert(out.operands.end(), args.begin() + static_cast<long>(i),
                                    args.end());
                return true;
            }
            out.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            out.operands.insert(out.operands.end(), args.begin() + static_cast<long>(i) + 1,
                                args.end());
            return true;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            return true;
        }
        if (contains(set.flags, a)) {
            out.options.emplace_back(a, std::string());
            continue;
        }
        std::string name = a;
        std::string value;
        const std::size_t eq = a.find('=');
        const bool inline_value = a.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inline_value) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        if (!contains(set.values, name)) return fail(command_line_fault_enum::UNKNOWN_OPTION, a);
        if (!inline_value) {
            if (i + 1 >= args.size()) return fail(command_line_fault_enum::MISSING_VALUE, name);
            value = args[++i];
        }
        if (set.once && out.has(name)) return fail(command_line_fault_enum::REPEATED, name);
        out.options.emplace_back(name, value);
    }
    return true;
}

}  // namespace Zorvane_Programs

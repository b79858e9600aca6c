#include "bottom/variables.hpp"

#include "text/clause.hpp"

namespace vantor::bottom {

std::string variable_name(long long number) {
    if (number == 0) return "A";
    std::string name;
    while (number > 0) {
        name.push_back(static_cast<char>('A' + number % 26));
        number /= 26;
    }
    return name;
}

std::string variabilise_example(std::string_view pos, const text::ConstantSet& constant) {
    const text::Clause clause(pos);
    std::vector<std::string> args;
    for (const text::Arg& a : clause.args()) {
        // A list-valued argument is never a constant-set member.
        if (!a.is_list && constant.count(a.text)) {
            args.push_back(a.text);
        } else {
            args.push_back(variable_name(static_cast<long long>(args.size())));
        }
    }
    return text::make_literal(clause.predicate, args);
}

}  // namespace vantor::bottom

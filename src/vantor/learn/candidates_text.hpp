// Literal texts built from parsed arguments, as the host would write them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/clause.hpp"

namespace vantor::learn::detail {

// The host's str() of a list of texts: ['a,b', 'c'].
std::string host_list_text(const std::vector<std::string>& items);

// make_literal over parsed arguments; a list-valued argument is written as
// the host writes a list.
std::string make_literal_of_args(std::string_view predicate, const std::vector<text::Arg>& args);

std::vector<std::string> arg_texts_for_literal(const std::vector<text::Arg>& args);

}  // namespace vantor::learn::detail

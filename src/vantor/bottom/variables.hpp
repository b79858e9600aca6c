// Variable names and the variabilised head of an example.
#pragma once

#include <string>
#include <string_view>

#include "text/substitution.hpp"

namespace vantor::bottom {

// 0 -> A; otherwise base-26 digits, least significant first, A standing for
// 0 (26 -> AB, 676 -> AAB). A negative number gives the empty text.
std::string variable_name(long long number);

// The example with every argument outside the constant set replaced by the
// variable of its position: f(a,c1,b) with c1 constant gives f(A,c1,C).
std::string variabilise_example(std::string_view pos, const text::ConstantSet& constant);

}  // namespace vantor::bottom

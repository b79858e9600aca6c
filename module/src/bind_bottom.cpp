#include "bindings.hpp"
#include "bottom/variables.hpp"

using namespace nb::literals;

namespace vantor::py {

void bind_bottom(nb::module_& m) {
    m.def("variable_name", &bottom::variable_name, "number"_a,
          "Variable for a position: 0 -> 'A', 1 -> 'B', 26 -> 'AB' (least significant first).");
    m.def(
        "variabilise_example",
        [](std::string_view pos, nb::handle constant) {
            return bottom::variabilise_example(pos, constant_set_from(constant, "constant"));
        },
        "pos"_a, "constant"_a,
        "The head literal of an example: every argument outside `constant` becomes the\n"
        "variable of its position (f(a,a) -> f(A,B)).");
}

}  // namespace vantor::py

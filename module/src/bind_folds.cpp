// Bindings of the split and fold arithmetic and of the cross-validation
// driver. The dictionaries themselves stay host objects (folds.py): only the
// cut points of the id lists are computed here.
#include "bindings.hpp"
#include "data/splits.hpp"

using namespace nb::literals;

namespace vantor::py {

void bind_folds(nb::module_& m) {
    m.def(
        "_split_boundary_count",
        [](std::size_t n, std::int64_t test_count) {
            return data::training_boundary(n, data::training_size_for_count(n, test_count));
        },
        "n"_a, "test_count"_a,
        "Index where the training ids end when test_count examples go to test.");
    m.def(
        "_split_boundary_fraction",
        [](std::size_t n, double test_fraction) {
            return data::training_boundary(n, data::training_size_for_fraction(n, test_fraction));
        },
        "n"_a, "test_fraction"_a,
        "Index where the training ids end when a fraction of the examples goes to test.");
    m.def("_fold_sizes", &data::fold_sizes, "n"_a, "folds"_a,
          "Sizes of the consecutive chunks that cut n ids into folds.");
}

}  // namespace vantor::py

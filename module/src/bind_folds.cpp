#include "bindings.hpp"

namespace vantor::py {

void bind_folds(nb::module_& m) { (void)m; }

}  // namespace vantor::py

#include "bindings.hpp"

namespace vantor::py {

void bind_tabular(nb::module_& m) { (void)m; }

}  // namespace vantor::py

#include "bindings.hpp"

namespace vantor::py {

void bind_candidates(nb::module_& m) { (void)m; }

}  // namespace vantor::py

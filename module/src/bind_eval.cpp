#include "bindings.hpp"

namespace vantor::py {

void bind_eval(nb::module_& m) { (void)m; }

}  // namespace vantor::py

#include "bindings.hpp"

namespace vantor::py {

void bind_abduce(nb::module_& m) { (void)m; }

}  // namespace vantor::py

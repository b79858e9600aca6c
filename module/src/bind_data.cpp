#include "bindings.hpp"

namespace vantor::py {

void bind_data(nb::module_& m) { (void)m; }

}  // namespace vantor::py

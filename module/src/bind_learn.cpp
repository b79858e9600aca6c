#include "bindings.hpp"

namespace vantor::py {

void bind_learn(nb::module_& m) { (void)m; }

}  // namespace vantor::py

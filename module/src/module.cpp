#include "bindings.hpp"

NB_MODULE(_core, m) {
    m.doc() = "Vantor's C++ core. Use the vantor package, which re-exports these.";
    using namespace vantor::py;
    bind_errors(m);
    bind_text(m);
    bind_data(m);
    bind_bottom(m);
    bind_candidates(m);
    bind_learn(m);
    bind_eval(m);
    bind_folds(m);
    bind_abduce(m);
    bind_tabular(m);
    bind_proving(m);
    bind_refine(m);
}

#include "engine/engine_calls.hpp"

#include "engine/errors.hpp"

namespace vantor::engine::calls {

Helpers helpers{};

std::string text_of(term_t t) {
    char* s = nullptr;
    size_t len = 0;
    if (PL_get_nchars(t, &len, &s, CVT_ATOM | CVT_STRING | CVT_WRITEQ | REP_UTF8 | BUF_STACK)) {
        return std::string(s, len);
    }
    return "(unprintable Prolog term)";
}

std::string take_exception_text() {
    term_t ex = PL_exception(0);
    if (!ex) return "the Prolog engine reported failure without an exception";
    term_t copy = PL_copy_term_ref(ex);
    PL_clear_exception();
    term_t args = PL_new_term_refs(2);
    if (helpers.error_text && PL_put_term(args, copy) &&
        PL_call_predicate(nullptr, kCallFlags, helpers.error_text, args)) {
        return text_of(args + 1);
    }
    PL_clear_exception();
    return text_of(copy);
}

bool put_text(term_t t, int kind, const std::string& text) {
    return PL_put_chars(t, kind | REP_UTF8, text.size(), text.data());
}

bool put_bool(term_t t, bool value) { return PL_put_atom(t, value ? helpers.a_true : helpers.a_false); }

void run(predicate_t predicate) {
    fid_t frame = PL_open_foreign_frame();
    term_t none = PL_new_term_refs(0);
    bool ok = PL_call_predicate(nullptr, kCallFlags, predicate, none);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
}

bool holds(predicate_t check, const std::string* path) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(path ? 1 : 0);
    bool ok = (!path || put_text(a, PL_ATOM, *path)) && PL_call_predicate(nullptr, kCallFlags, check, a);
    if (!ok) PL_clear_exception();
    PL_discard_foreign_frame(frame);
    return ok;
}

namespace {

bool layout(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

bool plainly_one_term(std::string_view text) {
    while (!text.empty() && layout(text.back())) text.remove_suffix(1);
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' && i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') return false;
        if (c == '\'' || c == '"' || c == '`') quote = c;
        else if (c == '%' || (c == '/' && i + 1 < text.size() && text[i + 1] == '*')) return false;
        else if (c == '.' && i + 1 < text.size() && (layout(text[i + 1]) || text[i + 1] == '%')) return false;
    }
    return quote == 0;
}

std::string unavailable_message(const std::string& detail) {
    return "the SWI-Prolog engine could not be started (" + detail +
           "); install SWI-Prolog, e.g. `apt-get install swi-prolog-core` on Debian or Ubuntu";
}

}  // namespace vantor::engine::calls

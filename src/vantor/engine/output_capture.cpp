#include "engine/output_capture.hpp"

#include <SWI-Prolog.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "engine/swi_batch.hpp"

namespace vantor::engine {

namespace {

constexpr int kFlags = PL_Q_NODEBUG | PL_Q_CATCH_EXCEPTION;

// user_output and current_output are the calling thread's own streams.
constexpr const char* kClauses[] = {
    "begin(Path) :- open(Path, write, S, [encoding(utf8)]), "
    "stream_property(Old, alias(user_output)), current_output(Current), "
    "nb_setval(vantor_capture, c(Path, S, Old, Current)), "
    "set_stream(S, alias(user_output)), set_output(S)",
    "end :- nb_getval(vantor_capture, c(_, S, Old, Current)), "
    "set_stream(Old, alias(user_output)), set_output(Current), close(S), "
    "nb_setval(vantor_capture, none)",
};

std::once_flag defined;
predicate_t p_begin, p_end;

void define() {
    define_clauses("vantor_capture", {std::begin(kClauses), std::end(kClauses)},
                   "could not define the output capture");
    p_begin = PL_predicate("begin", 1, "vantor_capture");
    p_end = PL_predicate("end", 0, "vantor_capture");
}

// Restores the thread's output; true when the capture file is complete.
bool end_capture() {
    fid_t frame = PL_open_foreign_frame();
    const bool ok = PL_call_predicate(nullptr, kFlags, p_end, PL_new_term_refs(0));
    PL_clear_exception();
    PL_discard_foreign_frame(frame);
    return ok;
}

}  // namespace

OutputCapture::OutputCapture(const std::string& path) : path_(path) {
    // Capturing is a courtesy: without it the engine's output goes where it
    // always went, and the evaluation goes on.
    try {
        std::call_once(defined, define);
    } catch (const std::exception&) {
        return;
    }
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_ref();
    active_ = PL_put_chars(a, PL_ATOM | REP_UTF8, path.size(), path.data()) &&
              PL_call_predicate(nullptr, kFlags, p_begin, a);
    PL_clear_exception();
    PL_discard_foreign_frame(frame);
}

OutputCapture::~OutputCapture() {
    if (active_) end_capture();
}

void OutputCapture::finish(Output& out) {
    if (!active_) return;
    active_ = false;
    if (!end_capture()) return;
    std::ifstream in(path_, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty()) out.write(text);
}

}  // namespace vantor::engine

// The process's SWI-Prolog engine behind the Prover interface.
//
// A background is loaded on its own and kept while its file is unchanged, so
// repeated evaluations over one background do not read it again; each theory
// then loads as a small file of its own next to it. That is the same as
// loading theory and background as one file (theory first) only when the two
// cannot meet while loading: the background runs no directive and defines no
// hook, dynamic or tabled predicate, and the theory defines none of the
// background's predicates and runs no directive but its style checks and the
// tables of its own predicates. In every other case the theory and the bytes
// of the background are written into one file and loaded together, as
// before, and nothing is kept.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <fstream>
#include <functional>
#include <mutex>
#include <system_error>
#include <optional>
#include <string>

#include "engine/errors.hpp"
#include "engine/prolog_engine.hpp"
#include "host.hpp"
#include "text/pystr.hpp"
#include "engine/prover.hpp"
#include "engine/swi_batch.hpp"
#include "engine/working_dir.hpp"

namespace vantor::engine {

namespace fs = std::filesystem;

namespace {

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) throw OSError(EIO, path, "cannot read the background file");
    return bytes;
}

// The engine reads sources as UTF-8; other bytes would surface as a syntax
// error in a working file the user never wrote.
void check_utf8(const std::string& path, const std::string& bytes) {
    if (!text::is_valid_utf8(bytes)) {
        throw ValueError("'" + path + "' is not UTF-8 text; the engine reads a background as UTF-8 "
                         "(save it in that encoding)");
    }
}

// A cheap look at the bytes before the engine parses anything: a file of
// facts alone has no ":-" or "?-" at all. Files with them (rules, or quoted
// texts holding those characters) are read by the engine to be sure. A file
// starting with a byte-order mark is left to the combined load, where the
// mark lands mid-file as it always did.
bool may_load_alone(const std::string& path, const std::string& bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return false;
    if (bytes.find(":-") == std::string::npos && bytes.find("?-") == std::string::npos) return true;
    return engine::free_of_directives(path);
}

// Text without ":-", "?-" or "-->" may be facts alone, which the engine
// then tries to add without its compiler.
bool may_be_facts(const std::string& bytes) {
    return bytes.find(":-") == std::string::npos && bytes.find("?-") == std::string::npos &&
           bytes.find("-->") == std::string::npos;
}

struct BackgroundVersion {
    std::string path;
    FileStamp stamp;
    bool sandboxed = false;  // loaded under the sandbox's checks
    bool operator==(const BackgroundVersion&) const = default;
};

class SwiProver final : public Prover {
public:
    void load_background(const std::string& path, const EvalSettings& settings) override {
        current_ = BackgroundVersion{path, readable_file_stamp(path), settings.sandbox};
        if (resident_ == current_ || combined_only_ == current_) return;
        std::string bytes = file_bytes(path);
        // Another file with the bytes of the resident background (a
        // learner's private copy of a file loaded before) loads to the same
        // clauses: they stay, under the new name.
        if (resident_ && resident_->sandboxed == current_.sandboxed && bytes == resident_bytes_ &&
            readable_file_stamp(path) == current_.stamp) {
            resident_ = current_;
            return;
        }
        forget_background();
        // A theory still loaded (say, a combined file holding an older copy
        // of these facts) must not meet the background's clauses.
        engine::unload_source(engine::Role::theory);
        check_utf8(path, bytes);
        if (!may_load_alone(path, bytes)) {
            combined_only_ = current_;
            return;
        }
        engine::LoadResult load = load_or_unload(engine::Role::background, path, settings, std::nullopt,
                                                 may_be_facts(bytes));
        if (load.timed_out) throw_timed_out(settings);
        bool clean = load.errors.empty() && engine::plain_background();
        // An edit during the load would leave a mixture under the old stamp.
        if (!clean || readable_file_stamp(path) != current_.stamp) {
            engine::unload_source(engine::Role::background);
            combined_only_ = current_;
            return;
        }
        resident_ = current_;
        resident_bytes_ = std::move(bytes);
    }

    void load_theory(const std::string& theory_text, const fs::path& workdir,
                     const EvalSettings& settings) override {
        const fs::path copy = workdir / "copy_bk.pl";
        const fs::path loaded = workdir / "test_bk.pl";
        write_file(copy, theory_text);
        // Tables of an earlier theory must not answer for this one.
        engine::abolish_tables();
        const bool alone = resident_ == current_ && engine::separable_theory(copy.string());
        write_file(loaded, theory_text);
        // Lines past the theory's are the background's (named in refusals).
        const engine::Origin origin{current_.path, line_count(theory_text)};
        if (!alone) {
            forget_background();
            append_file_bytes(loaded, current_.path);
        }
        engine::LoadResult load = load_or_unload(engine::Role::theory, loaded.string(), settings, origin);
        if (load.timed_out) {
            engine::abolish_tables();
            throw_timed_out(settings);
        }
        if (!load.errors.empty()) {
            std::string message = "loading the theory file failed:";
            for (const std::string& e : load.errors) message += "\n" + e;
            engine::abolish_tables();
            throw PrologError(message);
        }
    }

    Outcome prove(const std::string& goal_text, std::int64_t inference_limit,
                  const EvalSettings& settings) override {
        return engine::prove(goal_text, inference_limit, settings);
    }

    void set_goal_arguments(const std::vector<std::string>& argument_texts) override {
        engine::set_goal_arguments(argument_texts);
    }

    // Batches run in one Prolog call; each goal as prove() runs one.
    std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit,
                                    const EvalSettings& settings) override {
        return engine::prove_each(name, inference_limit, settings);
    }

    std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                    std::int64_t inference_limit, const EvalSettings& settings) override {
        return engine::prove_some(name, positions, inference_limit, settings);
    }

    void unload() override {
        engine::unload_source(engine::Role::theory);
        engine::abolish_tables();
        engine::restore_state();
    }

private:
    // A load the host interrupted leaves nothing of the file behind.
    static engine::LoadResult load_or_unload(engine::Role role, const std::string& path,
                                             const EvalSettings& settings,
                                             const std::optional<engine::Origin>& origin = std::nullopt,
                                             bool may_be_facts = false) {
        try {
            engine::LoadResult load = engine::load_source(role, path, settings, origin, may_be_facts);
            if (load.timed_out) engine::unload_source(role);
            return load;
        } catch (const Interrupted&) {
            engine::unload_source(role);
            engine::abolish_tables();
            throw;
        }
    }

    [[noreturn]] void throw_timed_out(const EvalSettings& settings) {
        forget_background();
        std::ostringstream seconds;
        seconds << settings.time_limit;
        throw PrologError("loading the background file '" + current_.path + "' ran past the time bound of " +
                          seconds.str() + " s; it was stopped (raise time_limit if it needs longer)");
    }

    static int line_count(const std::string& text) {
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }

    void forget_background() {
        if (!resident_) return;
        engine::unload_source(engine::Role::background);
        resident_.reset();
        resident_bytes_.clear();
    }

    BackgroundVersion current_;                   // the background of this evaluation
    std::optional<BackgroundVersion> resident_;   // loaded on its own, reusable
    std::string resident_bytes_;                  // the bytes it was loaded from
    std::optional<BackgroundVersion> combined_only_;  // known to need the combined load
};

}  // namespace

Prover& process_prover() {
    static SwiProver prover;
    return prover;
}

namespace {

// Evaluations through the process's engine take turns: they share its
// loaded clauses.
std::mutex evaluation_mutex;

}  // namespace

void with_process_prover(const std::function<void(Prover&)>& work) {
    ensure_started();
    std::lock_guard<std::mutex> lock(evaluation_mutex);
    ThreadEngine attach;
    work(process_prover());
}

// The background as an absolute name: the engine resolves names on its own
// and must find the caller's file whatever directory it started in. Checked
// before anything is written, so a missing file leaves nothing behind.
std::string absolute_background(const std::string& file_1) {
    readable_file_stamp(file_1);
    std::error_code ec;
    fs::path absolute = fs::absolute(file_1, ec);
    if (ec) throw OSError(ec.value(), file_1, "cannot resolve the background file name: " + ec.message());
    return absolute.lexically_normal().string();
}

}  // namespace vantor::engine

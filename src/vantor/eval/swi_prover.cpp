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
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "eval/evaluate.hpp"
#include "eval/prolog_engine.hpp"
#include "eval/prover.hpp"
#include "eval/swi_batch.hpp"
#include "eval/working_dir.hpp"

namespace vantor::eval {

namespace fs = std::filesystem;

namespace {

// A cheap look at the bytes before the engine parses anything: a file of
// facts alone has no ":-" or "?-" at all. Files with them (rules, or quoted
// texts holding those characters) are read by the engine to be sure. A file
// starting with a byte-order mark is left to the combined load, where the
// mark lands mid-file as it always did.
bool may_load_alone(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return false;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return false;
    if (bytes.find(":-") == std::string::npos && bytes.find("?-") == std::string::npos) return true;
    return engine::free_of_directives(path);
}

struct BackgroundVersion {
    std::string path;
    FileStamp stamp;
    bool operator==(const BackgroundVersion&) const = default;
};

class SwiProver final : public Prover {
public:
    void load_background(const std::string& path) override {
        current_ = BackgroundVersion{path, readable_file_stamp(path)};
        if (resident_ == current_ || combined_only_ == current_) return;
        forget_background();
        // A theory still loaded (say, a combined file holding an older copy
        // of these facts) must not meet the background's clauses.
        engine::unload_source(engine::Role::theory);
        if (!may_load_alone(path)) {
            combined_only_ = current_;
            return;
        }
        bool clean = engine::load_source(engine::Role::background, path).empty() && engine::plain_background();
        // An edit during the load would leave a mixture under the old stamp.
        if (!clean || readable_file_stamp(path) != current_.stamp) {
            engine::unload_source(engine::Role::background);
            combined_only_ = current_;
            return;
        }
        resident_ = current_;
    }

    void load_theory(const std::string& theory_text, const fs::path& workdir) override {
        const fs::path copy = workdir / "copy_bk.pl";
        const fs::path loaded = workdir / "test_bk.pl";
        write_file(copy, theory_text);
        // Tables of an earlier theory must not answer for this one.
        engine::abolish_tables();
        const bool alone = resident_ == current_ && engine::separable_theory(copy.string());
        write_file(loaded, theory_text);
        if (!alone) {
            forget_background();
            append_file_bytes(loaded, current_.path);
        }
        std::vector<std::string> errors = engine::load_source(engine::Role::theory, loaded.string());
        if (!errors.empty()) {
            std::string message = "loading the theory file failed:";
            for (const std::string& e : errors) message += "\n" + e;
            engine::abolish_tables();
            throw PrologError(message);
        }
    }

    Outcome prove(const std::string& goal_text, std::int64_t inference_limit) override {
        return engine::prove(goal_text, inference_limit);
    }

    void set_goal_arguments(const std::vector<std::string>& argument_texts) override {
        engine::set_goal_arguments(argument_texts);
    }

    std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit) override {
        return engine::prove_each(name, inference_limit);
    }

    std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                    std::int64_t inference_limit) override {
        return engine::prove_some(name, positions, inference_limit);
    }

    void unload() override {
        engine::unload_source(engine::Role::theory);
        engine::abolish_tables();
    }

private:
    void forget_background() {
        if (!resident_) return;
        engine::unload_source(engine::Role::background);
        resident_.reset();
    }

    BackgroundVersion current_;                   // the background of this evaluation
    std::optional<BackgroundVersion> resident_;   // loaded on its own, reusable
    std::optional<BackgroundVersion> combined_only_;  // known to need the combined load
};

}  // namespace

Prover& process_prover() {
    static SwiProver prover;
    return prover;
}

}  // namespace vantor::eval

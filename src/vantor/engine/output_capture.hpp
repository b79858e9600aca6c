// What a program run in the engine prints (a background's directives, a
// theory's write/1) is the host's output too: while an OutputCapture lives,
// the calling thread's Prolog output goes to a file (in the call's private
// folder), and finish()
// hands it to the host's Output (sys.stdout in Python, so that notebooks
// and redirect_stdout see it).
#pragma once

#include <string>

#include "host.hpp"

namespace vantor::engine {

class OutputCapture {
public:
    // Needs an engine attached to the calling thread.
    explicit OutputCapture(const std::string& path);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Restores the thread's output and writes what was captured to `out`.
    void finish(Output& out);

private:
    std::string path_;
    bool active_ = false;
};

}  // namespace vantor::engine

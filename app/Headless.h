// The runs without a window: start-up, one pass, the log saved; or the dry run,
// which tells what the pass would change and writes nothing.
#pragma once

#include "app/Unit1.h"

#include <ostream>

namespace ostrakel {

// Error and message boxes as lines on a stream: nobody is there to press OK.
class TStreamDialogs : public IDialogs {
public:
    explicit TStreamDialogs(std::ostream& out) : FOut(out) {}
    void ShowMessage(const std::string& title, const std::string& text) override;
    void ShowError(const std::string& title, const std::string& text) override;
    int Shown() const { return FShown; }

private:
    std::ostream& FOut;
    int FShown = 0;
};

// Runs start-up and one pass in a window that is never shown (env.NoWindow),
// under the running application. Log lines go to `out` as well, or, for a dry
// run, the moulds whose counters would change and a summary line. Errors go to
// `err`. Gives 0 when the pass ran to its end, 1 when start-up or the pass failed
// or a signal stopped it, 3 when it ran to its end but some writes failed.
int RunHeadless(TFormEnvironment env, std::ostream& out, std::ostream& err);

} // namespace ostrakel

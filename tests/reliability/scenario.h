// What the scenario tests share: the run log's line for an entry, and a hook into a transfer.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/transfer.h"
#include "queue/copyoperation.h"

namespace mivex::test {

// Expects the log's whole line for `row`: its success (code 0) or its failure with `code`.
inline void expectLogged(const std::string& log, const std::string& row, int code) {
    const std::string line =
        code == 0 ? row + " was successful\r\n"
                  : "*** ERROR *** " + row + " did not copy - " + GetErrorText(code) + "\r\n";
    EXPECT_NE(log.find(line), std::string::npos) << "no line: " << line << "in log:\n" << log;
}

// Calls `body` at every progress call of a transfer; aborts the transfer once asked to.
class Calling : public TransferMonitor {
public:
    explicit Calling(std::function<void()> body) : mBody(std::move(body)) {}
    void progress(const TransferProgress&) override {
        ++calls;
        mBody();
    }
    bool abortRequested() override { return abort && calls > 0; }
    int calls = 0;
    bool abort = false;

private:
    std::function<void()> mBody;
};

}  // namespace mivex::test

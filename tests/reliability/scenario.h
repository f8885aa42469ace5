// What the scenario tests share: the run log's line for an entry.
#pragma once

#include <gtest/gtest.h>

#include "queue/copyoperation.h"

namespace mivex::test {

// Expects the log's whole line for `row`: its success (code 0) or its failure with `code`.
inline void expectLogged(const std::string& log, const std::string& row, int code) {
    const std::string line =
        code == 0 ? row + " was successful\r\n"
                  : "*** ERROR *** " + row + " did not copy - " + GetErrorText(code) + "\r\n";
    EXPECT_NE(log.find(line), std::string::npos) << "no line: " << line << "in log:\n" << log;
}

}  // namespace mivex::test

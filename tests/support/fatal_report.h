// The text a fatal error writes on standard error with the default stream
// settings, for tests to compare with.
#ifndef TESTS_SUPPORT_FATAL_REPORT_H
#define TESTS_SUPPORT_FATAL_REPORT_H

#include <string>
#include <vector>

namespace test_support
{
    // The header, one line per error context (index right-aligned in five
    // columns), "error: ", the message with a line feed unless it ends in
    // one, and an empty line.
    std::string fatal_report(const std::vector<std::string> &contexts, const std::string &message);
}

#endif

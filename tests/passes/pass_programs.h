// What the end-to-end tests of the two passes share: running a pass on a
// given standard input, writing test classes in the XML tree form, and
// measuring how deeply such a text nests.
#ifndef TESTS_PASSES_PASS_PROGRAMS_H
#define TESTS_PASSES_PASS_PROGRAMS_H

#include "tests/support/fatal_report.h"
#include "tests/support/process.h"

#include <string>
#include <vector>

namespace test_support
{
    // Runs build/bin/<name> with input on its standard input.
    process_result run_pass(const std::string &name, const std::string &input,
                            const std::vector<std::string> &arguments = {});

    // A class written in the notation of tests/passes/notation.h, in the XML
    // tree form with step_width; built and written in a child process.
    std::string class_xml(const std::string &notation, int step_width);

    // How many elements deep a text in the XML tree form nests, counted as
    // the reader counts: the class element is at depth 1, and a leaf text
    // element one deeper than the element that holds it.
    int xml_depth(const std::string &xml);
}

#endif

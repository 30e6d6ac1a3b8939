#include "tests/support/fatal_report.h"

namespace test_support
{
    std::string fatal_report(const std::vector<std::string> &contexts, const std::string &message)
    {
        std::string text = "\n***** Fatal error!\n";
        for (size_t i = 0; i < contexts.size(); i++)
        {
            const std::string index = std::to_string(i);
            text += std::string(index.size() < 5 ? 5 - index.size() : 0, ' ') + index + ": " + contexts[i] + "\n";
        }
        return text + "error: " + message + (message.empty() || message.back() != '\n' ? "\n" : "") + "\n";
    }
}

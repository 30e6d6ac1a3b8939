// Inside the tokeniser: how it takes standard input. No public header
// includes this file.
#ifndef TOOLS_SDKARCHS_TOKENISER_INPUT_H
#define TOOLS_SDKARCHS_TOKENISER_INPUT_H

namespace JSON_Parser
{
    // The tokeniser takes standard input a byte at a time through the C
    // library instead of taking runs of blanks and string characters from
    // the stream's buffer at once: the path of every C library but glibc,
    // which tests use to compare the two.
    void json_read_stdin_bytewise(bool bytewise);
}

#endif

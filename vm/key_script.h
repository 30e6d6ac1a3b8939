// The key script of --keys: lines "STEP CODE", STEP increasing; once STEP
// steps have run, key CODE is held (0 releases it).
#ifndef TOOLS_VMRUN_KEY_SCRIPT_H
#define TOOLS_VMRUN_KEY_SCRIPT_H

#include "vm/loader.h"
#include "vm/machine.h"

#include <string>
#include <vector>

namespace vm_runner
{
    // Blank lines and // comments are allowed, as in VM files. A malformed
    // script throws load_error naming the file and line.
    std::vector<key_event> parse_key_script(const std::string &path, const std::string &text);
}

#endif

// The fused form of a program's code: the runs of commands that compiled
// Jack is made of (a push and a pop, two pushes and a binary command, a
// comparison and its branch, a call and the entry of the function it calls)
// each begun by one instruction that does the work of all of them.
//
// The fused code keeps the program's indices: the instruction at pc stands
// for the run that begins at pc, and a jump into the middle of a run finds
// the run that begins there. A fused instruction runs as one only when every
// command of its run would succeed and the steps left before the next event
// cover it; otherwise the loop runs the first command alone from the plain
// code, so that every fault, event and count falls where it falls there.
#ifndef TOOLS_VMRUN_FUSION_H
#define TOOLS_VMRUN_FUSION_H

#include "vm/program.h"

#include <vector>

namespace vm_runner
{
    std::vector<instruction> fuse(const program &p);
}

#endif

// The checks across the classes of one compilation and the standard
// library: every call names a subroutine that exists, of the kind the call
// needs, with as many arguments as it declares; classes are in files of
// their own names and defined once; the class types named exist.
#ifndef FRONTEND_PROGRAM_CHECKS_H
#define FRONTEND_PROGRAM_CHECKS_H

#include "frontend/class_summary.h"
#include "frontend/diagnostics.h"

#include <vector>

namespace Jack_Source
{
    // Checks the calls of the classes against the classes and the standard
    // library. With whole_program, the classes are all there are besides
    // the library: a class named that is neither is warned about, and a
    // class's name must be its file's. Without it (one class read alone),
    // calls into other classes are not checked. Under --no-checks nothing
    // is.
    void check_program(const std::vector<const class_summary *> &classes, diagnostics &diags, bool whole_program);
}

#endif

// Links against build/lib/symrec.o and build/lib/iobuffer.o alone, as a
// compiler of the tool-chain would, and reads a record back.
#include "symbols/variables.h"

int main()
{
    using namespace Lum_Symbol_Tables;
    symrec first = symrec_create("x", "int", "local", 0);
    symrec second = symrec_create("count", "Array", "argument", -3);
    bool ok = symrec_name(first) == "x" && symrec_type(second) == "Array" &&
              symrec_segment(second) == "argument" && symrec_offset(second) == -3;
    return ok ? 0 : 1;
}

// Links against build/lib/errctx.o alone.
#include "iobuffer/error_context.h"

int main()
{
    Lum_IO_Buffers::push_error_context("linked");
    return Lum_IO_Buffers::construct_error_context() == "\n***** Fatal error!\n    0: linked\nerror: " ? 0 : 1;
}

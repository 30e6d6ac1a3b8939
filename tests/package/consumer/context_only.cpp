// The error context stack on its own.
#include "iobuffer/error_context.h"

int main()
{
    Lum_IO_Buffers::push_error_context("outer");
    Lum_IO_Buffers::push_error_context("inner");
    return Lum_IO_Buffers::depth_error_context() == 2 && Lum_IO_Buffers::pop_error_context() == "inner" ? 0 : 1;
}

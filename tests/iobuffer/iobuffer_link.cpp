// Links against build/lib/iobuffer.o alone.
#include "iobuffer/iobuffer.h"

int main()
{
    Lum_IO_Buffers::write_to_output("");
    Lum_IO_Buffers::print_output();
    return 0;
}

// vmrun --serve: the program runs on the machine's thread while this server
// hands one page, embedded in the binary, and a WebSocket to one browser
// page at a time, until SIGINT or SIGTERM.
#ifndef SERVE_SERVER_H
#define SERVE_SERVER_H

#include "serve/live_control.h"
#include "serve/protocol.h"
#include "vm/program.h"

#include <string>
#include <vector>

namespace vm_serve
{
    struct serve_settings
    {
        listen_address address;
        live_settings live;
    };

    struct serve_result
    {
        int exit_status = 1;
        std::vector<int16_t> memory; // the RAM at the end of the last run (empty when none ended)
    };

    // Listens, prints "open http://ADDR:PORT/" on standard output, and
    // serves until a signal ends it. A failure to listen is reported on
    // standard error and gives status 1.
    serve_result serve(const vm_runner::program &p, const serve_settings &settings);
}

#endif

// The parts of the live server that judge what comes from outside: the
// address to listen on, the Host and Origin a request names, and the
// commands the page sends. Plain functions on strings, without the network
// library, so that they are tested and fuzzed on their own.
#ifndef SERVE_PROTOCOL_H
#define SERVE_PROTOCOL_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm_serve
{
    struct listen_address
    {
        std::string host;   // an IP literal: "127.0.0.1", "::1", "0.0.0.0"
        uint16_t port = 8080;
        bool v6 = false;
        bool loopback = false;
        bool unspecified = false; // 0.0.0.0 or ::, every address of the machine

        // "127.0.0.1:8080", "[::1]:8080": the form a URL takes.
        std::string authority() const;
    };

    // ADDR:PORT, ADDR an IPv4 literal, a bracketed IPv6 literal or
    // "localhost" (127.0.0.1), PORT 0 to 65535 (0: any free port). nullopt
    // when it is none of these.
    std::optional<listen_address> parse_listen_address(std::string_view text);

    // Whether a request's Host header names the address served: its
    // authority, "localhost:PORT" for a loopback address, and for an
    // address that listens everywhere any IP literal with the port (a
    // name, which another site's DNS could point here, never). The port may
    // be left out only when it is 80.
    bool host_allowed(std::string_view host, const listen_address &served);

    // Whether a WebSocket upgrade's Origin is the page's own: "http://" and
    // an allowed Host.
    bool origin_allowed(std::string_view origin, const listen_address &served);

    // What the page sends, one text message each.
    struct page_command
    {
        enum kind_t
        {
            run,     // "run"
            pause,   // "pause"
            step,    // "step": one step of the run's step unit, then paused
            restart, // "restart"
            speed,   // "speed N": N steps a second, 0 as fast as it goes
            key,     // "key N": key N held from now on, 0 released
        } kind;
        uint32_t value = 0;
    };

    const size_t page_message_limit = 4096;
    const uint32_t speed_limit = 1000000000;

    // nullopt for anything else, with why in *error when given.
    std::optional<page_command> parse_page_command(std::string_view message, std::string *error = nullptr);

    // A key code the keyboard can hold: 0 (none), 32 to 126, 128 to 152.
    bool valid_key_code(uint32_t code);

    // text as the contents of a JSON string: quotes, backslashes and control
    // characters escaped, bytes 128 and above as \u00XX so that the message
    // is valid UTF-8 whatever the program printed.
    std::string json_string(std::string_view text);
}

#endif

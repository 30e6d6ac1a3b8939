// What vmrun --serve takes from outside, on random and mutated bytes: a
// message of the page, a Host header, an Origin and a listen address. A
// command that parses must be exactly the text it came from (nothing else
// is taken for it), and a JSON string made of the bytes must be printable
// ASCII, whatever the program printed.
#include "serve/protocol.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace vm_serve;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;
    if (const auto command = parse_page_command(text, &error))
    {
        static const char *const words[] = {"run", "pause", "step", "restart", "speed", "key"};
        std::string again = words[command->kind];
        if (command->kind == page_command::speed || command->kind == page_command::key)
            again += " " + std::to_string(command->value);
        // Leading zeros are the one other spelling of a number.
        if (again != text && text.find(" 0") == std::string::npos)
            std::abort();
        if (command->kind == page_command::key && !valid_key_code(command->value))
            std::abort();
    }
    else if (error.empty())
        std::abort();

    for (const char *served : {"127.0.0.1:8080", "[::1]:80", "0.0.0.0:0", "[::]:65535"})
    {
        const auto address = parse_listen_address(served);
        if (!address)
            std::abort();
        const bool host = host_allowed(text, *address);
        // The page's own origin is its Host behind http://.
        if (origin_allowed("http://" + text, *address) != host)
            std::abort();
        // For a loopback address exactly two spellings pass.
        if (host && address->port == 8080)
        {
            std::string lower = text;
            for (char &c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (text != "127.0.0.1:8080" && lower != "localhost:8080")
                std::abort();
        }
    }
    if (const auto address = parse_listen_address(text))
        if (!parse_listen_address(address->authority()))
            std::abort();

    for (char c : json_string(text))
        if (c < 32 || c > 126)
            std::abort();
    return 0;
}

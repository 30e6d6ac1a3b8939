// What the live server takes from outside, judged without a network: the
// addresses it listens on, the Host and Origin it answers, the commands of
// the page. The loopback cases are also met end to end (server_test.py);
// these tables add the addresses a test must not listen on.
#include "serve/protocol.h"

#include <gtest/gtest.h>

using namespace vm_serve;

namespace
{
    TEST(ServeProtocol, ListenAddresses)
    {
        struct
        {
            const char *text;
            const char *authority; // nullptr: refused
            bool loopback, unspecified;
        } cases[] = {
            {"127.0.0.1:8080", "127.0.0.1:8080", true, false},
            {"localhost:0", "127.0.0.1:0", true, false},
            {"127.1.2.3:80", "127.1.2.3:80", true, false},
            {"0.0.0.0:8080", "0.0.0.0:8080", false, true},
            {"192.168.1.5:65535", "192.168.1.5:65535", false, false},
            {"[::1]:8080", "[::1]:8080", true, false},
            {"[::]:1", "[::]:1", false, true},
            {"[0:0:0:0:0:0:0:1]:9", "[::1]:9", true, false},
            {"127.0.0.1", nullptr, false, false},
            {"127.0.0.1:", nullptr, false, false},
            {"127.0.0.1:65536", nullptr, false, false},
            {"127.0.0.1:-1", nullptr, false, false},
            {"127.0.0.1:8080x", nullptr, false, false},
            {"::1:8080", nullptr, false, false},
            {"[127.0.0.1]:80", nullptr, false, false},
            {"example.com:80", nullptr, false, false},
            {"2130706433:80", nullptr, false, false},
            {"", nullptr, false, false},
        };
        for (const auto &c : cases)
        {
            const auto a = parse_listen_address(c.text);
            ASSERT_EQ(a.has_value(), c.authority != nullptr) << c.text;
            if (!a)
                continue;
            EXPECT_EQ(a->authority(), c.authority) << c.text;
            EXPECT_EQ(a->loopback, c.loopback) << c.text;
            EXPECT_EQ(a->unspecified, c.unspecified) << c.text;
        }
    }

    TEST(ServeProtocol, HostAndOrigin)
    {
        struct
        {
            const char *served, *host;
            bool allowed;
        } cases[] = {
            {"127.0.0.1:8080", "127.0.0.1:8080", true},
            {"127.0.0.1:8080", "LocalHost:8080", true},
            {"127.0.0.1:8080", "localhost", false},
            {"127.0.0.1:80", "127.0.0.1", true},
            {"127.0.0.1:80", "localhost", true},
            {"127.0.0.1:8080", "127.0.0.1:08080", false},
            {"127.0.0.1:8080", "127.000.0.1:8080", false},
            {"127.0.0.1:8080", "[::1]:8080", false},
            {"[::1]:8080", "[::1]:8080", true},
            {"[::1]:8080", "[0::1]:8080", true},
            {"[::1]:8080", "localhost:8080", true},
            {"[::1]:8080", "127.0.0.1:8080", false},
            {"[::1]:8080", "[::1]", false},
            {"192.168.1.5:8080", "192.168.1.5:8080", true},
            {"192.168.1.5:8080", "localhost:8080", false},
            {"192.168.1.5:8080", "192.168.1.6:8080", false},
            // Listening everywhere: any IP literal, never a name, which
            // another site's DNS could point here.
            {"0.0.0.0:8080", "10.0.0.7:8080", true},
            {"0.0.0.0:8080", "printer.lan:8080", false},
            {"0.0.0.0:8080", "localhost:8080", false},
            {"0.0.0.0:8080", "[::1]:8080", false},
            {"[::]:8080", "[fe80::1]:8080", true},
            {"[::]:8080", "10.0.0.7:8080", false},
            {"127.0.0.1:8080", "", false},
            {"127.0.0.1:8080", "127.0.0.1:8080 ", false},
            {"127.0.0.1:8080", "127.0.0.1:8080@evil.example", false},
            {"127.0.0.1:8080", "[127.0.0.1]:8080", false},
        };
        for (const auto &c : cases)
        {
            const auto served = parse_listen_address(c.served);
            ASSERT_TRUE(served) << c.served;
            EXPECT_EQ(host_allowed(c.host, *served), c.allowed) << c.served << " " << c.host;
            EXPECT_EQ(origin_allowed(std::string("http://") + c.host, *served), c.allowed) << c.host;
            EXPECT_FALSE(origin_allowed(std::string("https://") + c.host, *served)) << c.host;
        }
    }

    TEST(ServeProtocol, PageCommands)
    {
        struct
        {
            const char *message;
            const char *error; // nullptr: taken
            page_command::kind_t kind;
            uint32_t value;
        } cases[] = {
            {"run", nullptr, page_command::run, 0},
            {"pause", nullptr, page_command::pause, 0},
            {"step", nullptr, page_command::step, 0},
            {"restart", nullptr, page_command::restart, 0},
            {"speed 0", nullptr, page_command::speed, 0},
            {"speed 1000000000", nullptr, page_command::speed, 1000000000},
            {"key 0", nullptr, page_command::key, 0},
            {"key 32", nullptr, page_command::key, 32},
            {"key 126", nullptr, page_command::key, 126},
            {"key 152", nullptr, page_command::key, 152},
            {"speed 1000000001", "a speed above 1000000000 steps a second", page_command::run, 0},
            {"speed 4294967296", "\"speed\" needs a decimal number", page_command::run, 0},
            {"speed 99999999999", "\"speed\" needs a decimal number", page_command::run, 0},
            {"key 127", "not a key code: 127", page_command::run, 0},
            {"key 31", "not a key code: 31", page_command::run, 0},
            {"key 153", "not a key code: 153", page_command::run, 0},
            {"key", "\"key\" needs a decimal number", page_command::run, 0},
            {"key ", "\"key\" needs a decimal number", page_command::run, 0},
            {"key -1", "\"key\" needs a decimal number", page_command::run, 0},
            {"key 1 2", "\"key\" needs a decimal number", page_command::run, 0},
            {"run ", "\"run\" takes no argument", page_command::run, 0},
            {"RUN", "not a command", page_command::run, 0},
            {"", "not a command", page_command::run, 0},
            {" run", "not a command", page_command::run, 0},
            {"run\n", "not a command", page_command::run, 0},
        };
        for (const auto &c : cases)
        {
            std::string error;
            const auto command = parse_page_command(c.message, &error);
            ASSERT_EQ(command.has_value(), c.error == nullptr) << c.message;
            if (command)
            {
                EXPECT_EQ(command->kind, c.kind) << c.message;
                EXPECT_EQ(command->value, c.value) << c.message;
            }
            else
                EXPECT_EQ(error, c.error) << c.message;
        }
        EXPECT_EQ(parse_page_command(std::string(65, 'x'), nullptr), std::nullopt);
        EXPECT_EQ(json_string("a\"b\\c\nd\x08\xc3\xa9"), "a\\\"b\\\\c\\nd\\u0008\\u00c3\\u00a9");
    }
}

#include "serve/protocol.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>

namespace vm_serve
{
    namespace
    {
        bool ipv4_literal(const std::string &text, in_addr *out = nullptr)
        {
            in_addr a;
            if (inet_pton(AF_INET, text.c_str(), &a) != 1)
                return false;
            if (out != nullptr)
                *out = a;
            return true;
        }

        bool ipv6_literal(const std::string &text, in6_addr *out = nullptr)
        {
            in6_addr a;
            if (inet_pton(AF_INET6, text.c_str(), &a) != 1)
                return false;
            if (out != nullptr)
                *out = a;
            return true;
        }

        // A decimal number of at most `digits` digits, nothing else.
        std::optional<uint32_t> decimal(std::string_view text, size_t digits)
        {
            if (text.empty() || text.size() > digits)
                return std::nullopt;
            // Ten digits can pass 2^32: counted wide, refused past it.
            uint64_t value = 0;
            for (char c : text)
            {
                if (c < '0' || c > '9')
                    return std::nullopt;
                value = value * 10 + static_cast<uint64_t>(c - '0');
            }
            if (value > UINT32_MAX)
                return std::nullopt;
            return static_cast<uint32_t>(value);
        }

        bool equal_ignoring_case(std::string_view a, std::string_view b)
        {
            if (a.size() != b.size())
                return false;
            for (size_t i = 0; i < a.size(); ++i)
                if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                    return false;
            return true;
        }

        // Splits "H:P", "[H]:P", "H" or "[H]" into host and port text.
        bool split_authority(std::string_view text, std::string_view &host, std::string_view &port, bool &bracketed)
        {
            bracketed = !text.empty() && text[0] == '[';
            if (bracketed)
            {
                const size_t close = text.find(']');
                if (close == std::string_view::npos)
                    return false;
                host = text.substr(1, close - 1);
                const std::string_view rest = text.substr(close + 1);
                if (rest.empty())
                    port = {};
                else if (rest[0] == ':')
                    port = rest.substr(1);
                else
                    return false;
                return true;
            }
            const size_t colon = text.find(':');
            if (colon != text.rfind(':'))
                return false; // an IPv6 literal must be bracketed here
            host = text.substr(0, colon);
            port = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
            if (colon != std::string_view::npos && port.empty())
                return false;
            return true;
        }
    }

    std::string listen_address::authority() const
    {
        return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    }

    std::optional<listen_address> parse_listen_address(std::string_view text)
    {
        std::string_view host, port;
        bool bracketed = false;
        if (!split_authority(text, host, port, bracketed) || port.empty())
            return std::nullopt;
        const std::optional<uint32_t> number = decimal(port, 5);
        if (!number || *number > 65535)
            return std::nullopt;
        listen_address a;
        a.port = static_cast<uint16_t>(*number);
        a.host = std::string(host);
        if (!bracketed && equal_ignoring_case(host, "localhost"))
            a.host = "127.0.0.1";
        in_addr v4;
        in6_addr v6;
        if (!bracketed && ipv4_literal(a.host, &v4))
        {
            const uint32_t h = ntohl(v4.s_addr);
            a.loopback = (h >> 24) == 127;
            a.unspecified = h == 0;
            char buffer[INET_ADDRSTRLEN];
            a.host = inet_ntop(AF_INET, &v4, buffer, sizeof buffer);
        }
        else if (bracketed && ipv6_literal(a.host, &v6))
        {
            a.v6 = true;
            a.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
            a.unspecified = IN6_IS_ADDR_UNSPECIFIED(&v6);
            char buffer[INET6_ADDRSTRLEN];
            a.host = inet_ntop(AF_INET6, &v6, buffer, sizeof buffer);
        }
        else
            return std::nullopt;
        return a;
    }

    bool host_allowed(std::string_view text, const listen_address &served)
    {
        std::string_view host, port;
        bool bracketed = false;
        if (!split_authority(text, host, port, bracketed))
            return false;
        // The port as browsers write it: no leading zeros.
        if (port.empty() ? served.port != 80 : port != std::to_string(served.port))
            return false;
        const std::string name(host);
        if (bracketed)
        {
            in6_addr a, b;
            if (!ipv6_literal(name, &a))
                return false;
            if (served.unspecified && served.v6)
                return true;
            return served.v6 && ipv6_literal(served.host, &b) && std::memcmp(&a, &b, sizeof a) == 0;
        }
        if (served.loopback && equal_ignoring_case(name, "localhost"))
            return true;
        in_addr a;
        // inet_pton takes only the dotted-quad form, so "0x7f.1" or
        // "2130706433" never pass for the address.
        if (!ipv4_literal(name, &a))
            return false;
        // An IPv6 socket listens for IPv6 alone (v6_only).
        if (served.v6)
            return false;
        return served.unspecified || name == served.host;
    }

    bool origin_allowed(std::string_view origin, const listen_address &served)
    {
        const std::string_view scheme = "http://";
        if (origin.substr(0, scheme.size()) != scheme)
            return false;
        return host_allowed(origin.substr(scheme.size()), served);
    }

    bool valid_key_code(uint32_t code)
    {
        return code == 0 || (code >= 32 && code <= 126) || (code >= 128 && code <= 152);
    }

    std::optional<page_command> parse_page_command(std::string_view message, std::string *error)
    {
        auto refuse = [&](const std::string &why) -> std::optional<page_command> {
            if (error != nullptr)
                *error = why;
            return std::nullopt;
        };
        if (message.size() > 64)
            return refuse("a command of more than 64 bytes");
        const size_t blank = message.find(' ');
        const std::string_view word = message.substr(0, blank);
        const std::string_view argument = blank == std::string_view::npos ? std::string_view() : message.substr(blank + 1);
        static const struct
        {
            const char *word;
            page_command::kind_t kind;
            bool takes_number;
        } commands[] = {
            {"run", page_command::run, false},         {"pause", page_command::pause, false},
            {"step", page_command::step, false},       {"restart", page_command::restart, false},
            {"speed", page_command::speed, true},      {"key", page_command::key, true},
        };
        for (const auto &c : commands)
        {
            if (word != c.word)
                continue;
            if (!c.takes_number)
            {
                if (blank != std::string_view::npos)
                    return refuse("\"" + std::string(word) + "\" takes no argument");
                return page_command{c.kind, 0};
            }
            const std::optional<uint32_t> n = decimal(argument, 10);
            if (!n)
                return refuse("\"" + std::string(word) + "\" needs a decimal number");
            if (c.kind == page_command::speed && *n > speed_limit)
                return refuse("a speed above 1000000000 steps a second");
            if (c.kind == page_command::key && !valid_key_code(*n))
                return refuse("not a key code: " + std::to_string(*n));
            return page_command{c.kind, *n};
        }
        return refuse("not a command");
    }

    std::string json_string(std::string_view text)
    {
        static const char hex[] = "0123456789abcdef";
        std::string out;
        out.reserve(text.size() + 8);
        for (char ch : text)
        {
            const unsigned char c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\')
            {
                out += '\\';
                out += ch;
            }
            else if (c == '\n')
                out += "\\n";
            else if (c < 32 || c >= 127)
            {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            else
                out += ch;
        }
        return out;
    }
}

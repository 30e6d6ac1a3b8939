#include "symbols/variables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace Lum_Symbol_Tables;

namespace
{
    const std::uint64_t tag = 0x38A167B;

    std::uint64_t bits_of(symrec handle)
    {
        return reinterpret_cast<std::uintptr_t>(handle);
    }

    symrec handle_of(std::uint64_t bits)
    {
        return reinterpret_cast<symrec>(static_cast<std::uintptr_t>(bits));
    }

    std::string report(const std::string &message)
    {
        return "\n***** Fatal error!\nerror: " + message + "\n\n";
    }

    // The index the next record will get: other tests of this binary may
    // have made records first.
    std::uint64_t next_index()
    {
        return (bits_of(symrec_create("probe", "int", "local", 0)) >> 32) + 1;
    }

    TEST(Variables, FirstTwoHandlesHoldIndexAndTag)
    {
        // Run in a fresh process so that these are the first two records.
        EXPECT_EXIT(
            {
                const std::uint64_t first = bits_of(symrec_create("a", "int", "local", 0));
                const std::uint64_t second = bits_of(symrec_create("b", "int", "local", 1));
                std::fprintf(stderr, "%016llx %016llx", static_cast<unsigned long long>(first),
                             static_cast<unsigned long long>(second));
                _exit(0);
            },
            testing::ExitedWithCode(0), testing::Eq("00000000038a167b 00000001038a167b"));
    }

    struct record_case
    {
        std::string name, type, segment;
        int offset;
    };

    TEST(Variables, StoreAnyContentUnchanged)
    {
        const record_case cases[] = {
            {"x", "int", "local", 0},
            {"", "", "", 0},
            {"this", "Point", "pointer", -1},
            {"min", "int", "static", INT32_MIN},
            {"max", "boolean", "constant", INT32_MAX},
            {std::string("nul\0inside", 10), "\xff\x80", "\t\n", -32768},
        };
        std::vector<symrec> handles;
        for (const record_case &c : cases)
            handles.push_back(symrec_create(c.name, c.type, c.segment, c.offset));
        // Read back only after all are made, so no record disturbs another.
        for (size_t i = 0; i < handles.size(); i++)
        {
            SCOPED_TRACE(i);
            EXPECT_EQ(symrec_name(handles[i]), cases[i].name);
            EXPECT_EQ(symrec_type(handles[i]), cases[i].type);
            EXPECT_EQ(symrec_segment(handles[i]), cases[i].segment);
            EXPECT_EQ(symrec_offset(handles[i]), cases[i].offset);
        }
    }

    struct accessor
    {
        const char *name;
        std::function<void(symrec)> call;
    };

    const accessor accessors[] = {
        {"symrec_name", [](symrec h) { symrec_name(h); }},
        {"symrec_type", [](symrec h) { symrec_type(h); }},
        {"symrec_segment", [](symrec h) { symrec_segment(h); }},
        {"symrec_offset", [](symrec h) { symrec_offset(h); }},
    };

    struct bad_handle
    {
        const char *name;
        std::function<symrec()> make;  // called inside the dying process
        const char *message;           // the operation name follows it
    };

    const bad_handle bad_handles[] = {
        {"Null", [] { return symrec(nullptr); }, "nullptr passed to "},
        {"IndexEqualToCount", [] { return handle_of(next_index() << 32 | tag); },
         "Invalid symrec object passed to "},
        {"NegativeIndex", [] { return handle_of(std::uint64_t(0xFFFFFFFF) << 32 | tag); },
         "Invalid symrec object passed to "},
        {"WrongTag", [] { return handle_of(bits_of(symrec_create("v", "int", "local", 0)) ^ 1); },
         "Invalid symrec object passed to "},
        {"TagOfAnotherKind", [] { return handle_of(239951); }, "Invalid symrec object passed to "},
        {"RealPointer", [] { static int object; symrec_create("v", "int", "local", 0);
                              return reinterpret_cast<symrec>(&object); },
         "Invalid symrec object passed to "},
        {"TagAlone", [] { return handle_of(tag); }, "Invalid symrec object passed to "},  // no record yet
    };

    void PrintTo(const accessor &a, std::ostream *os)
    {
        *os << a.name;
    }

    void PrintTo(const bad_handle &b, std::ostream *os)
    {
        *os << b.name;
    }

    class MisusedHandle : public testing::TestWithParam<std::tuple<accessor, bad_handle>>
    {
    };

    TEST_P(MisusedHandle, EndsWithStatus255)
    {
        const accessor &a = std::get<0>(GetParam());
        const bad_handle &b = std::get<1>(GetParam());
        EXPECT_EXIT(a.call(b.make()), testing::ExitedWithCode(255),
                    testing::Eq(report(std::string(b.message) + a.name)));
    }

    INSTANTIATE_TEST_SUITE_P(Accessors, MisusedHandle, testing::Combine(testing::ValuesIn(accessors),
                                                                     testing::ValuesIn(bad_handles)),
                             [](const testing::TestParamInfo<MisusedHandle::ParamType> &info) {
                                 return std::string(std::get<0>(info.param).name) + "_" +
                                        std::get<1>(info.param).name;
                             });

    TEST(Variables, TableStopsAfterOneMillionAndOneRecords)
    {
        const std::string stuck =
            "attempted to create more than 1,000,000 variable objects, the program is probably stuck in a loop";
        // The marker proves the 1,000,001st record was made and reads back;
        // the report that follows comes from the 1,000,002nd creation.
        EXPECT_EXIT(
            {
                symrec last = nullptr;
                for (int i = 0; i <= 1000000; i++)
                    last = symrec_create("v", "int", "local", i);
                if (bits_of(last) >> 32 == 1000000 && symrec_offset(last) == 1000000)
                    std::fputs("made 1000001\n", stderr);
                symrec_create("one", "too", "many", 0);
                _exit(0);
            },
            testing::ExitedWithCode(255), testing::Eq("made 1000001\n" + report(stuck)));
    }
}

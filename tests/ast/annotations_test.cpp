#include "ast/syntax_tree.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Jack_Compiler;
using strings = std::vector<std::string>;

namespace
{
    struct contents
    {
        strings comments, warnings, errors;
        bool operator==(const contents &o) const
        {
            return comments == o.comments && warnings == o.warnings && errors == o.errors;
        }
    };

    contents read(ann a)
    {
        contents c;
        for (int i = 0; i < size_of_ann_comments(a); i++)
            c.comments.push_back(get_ann_comments(a, i));
        for (int i = 0; i < size_of_ann_warnings(a); i++)
            c.warnings.push_back(get_ann_warnings(a, i));
        for (int i = 0; i < size_of_ann_errors(a); i++)
            c.errors.push_back(get_ann_errors(a, i));
        return c;
    }

    TEST(Annotations, EmptyStringsAreDroppedAndNothingLeftIsTheSharedSet)
    {
        EXPECT_EQ(create_ann({}, {}, {}), create_ann());
        EXPECT_EQ(create_ann({"", ""}, {""}, {}), create_ann());
        const ann a = create_ann({"a", "", "b"}, {"", "w"}, {"e", ""});
        EXPECT_EQ(read(a), (contents{{"a", "b"}, {"w"}, {"e"}}));
    }

    TEST(Annotations, AddingBuildsNewSetsAndLeavesTheOldOne)
    {
        EXPECT_EQ(add_ann_comments(create_ann(), ""), create_ann());
        const ann w1 = add_ann_warnings(create_ann(), "same");
        const ann w2 = add_ann_warnings(create_ann(), "same");
        EXPECT_NE(w1, w2);
        EXPECT_EQ(read(w1), read(w2));

        const ann again = add_ann_comments(w1, "");
        EXPECT_NE(again, w1);
        EXPECT_EQ(read(again), read(w1));

        const ann more = add_ann_errors(w1, "boom");
        EXPECT_EQ(size_of_ann_errors(w1), 0);
        EXPECT_EQ(read(more), (contents{{}, {"same"}, {"boom"}}));
        EXPECT_EQ(read(add_ann_comments(more, "c")), (contents{{"c"}, {"same"}, {"boom"}}));
    }

    TEST(Annotations, DeletingKeepsOrderAndEmptiesToTheSharedSet)
    {
        const ann xyz = create_ann({"x", "y", "z"}, {"w"}, {"e"});
        EXPECT_EQ(read(delete_ann_comments(xyz, 1)), (contents{{"x", "z"}, {"w"}, {"e"}}));
        EXPECT_EQ(read(delete_ann_warnings(xyz, 0)), (contents{{"x", "y", "z"}, {}, {"e"}}));
        EXPECT_EQ(read(ann_delete_errors(xyz, 0)), (contents{{"x", "y", "z"}, {"w"}, {}}));
        EXPECT_EQ(read(xyz), (contents{{"x", "y", "z"}, {"w"}, {"e"}}));
        EXPECT_EQ(delete_ann_comments(create_ann({"only"}, {}, {}), 0), create_ann());
        EXPECT_EQ(ann_delete_errors(create_ann({}, {}, {"only"}), 0), create_ann());
    }

    TEST(AnnotationsDeathTest, IndicesOutOfRange)
    {
        const ann one_each = create_ann({"c"}, {"w"}, {"e"});
        struct
        {
            std::function<void()> call;
            const char *message;
        } cases[] = {
            {[] { get_ann_warnings(create_ann(), 0); }, "get_ann_warnings index is out of range"},
            {[] { get_ann_warnings(create_ann(), -1); }, "get_ann_warnings index is out of range"},
            {[=] { get_ann_comments(one_each, 1); }, "get_ann_comments index is out of range"},
            {[=] { get_ann_errors(one_each, -1); }, "get_ann_errors index is out of range"},
            {[=] { delete_ann_comments(one_each, 1); }, "delete_ann_comments index is out of range"},
            {[=] { delete_ann_warnings(one_each, -1); }, "delete_ann_warnings index is out of range"},
            {[=] { ann_delete_errors(one_each, 1); }, "delete_ann_errors index is out of range"},
        };
        for (const auto &c : cases)
            EXPECT_EXIT(c.call(), testing::ExitedWithCode(1),
                        testing::Eq(std::string("\n***** Fatal error!\nerror: ") + c.message + "\n\n"));
    }

    TEST(AnnotationsDeathTest, InvalidHandleNamesTheOperation)
    {
        const ann forged = reinterpret_cast<ann>(create_null());
        struct
        {
            std::function<void()> call;
            const char *caller;
        } cases[] = {
            {[=] { add_ann_comments(forged, "x"); }, "add_ann_comments"},
            {[=] { ann_delete_errors(forged, 0); }, "delete_ann_errors"},
            {[=] { size_of_ann_warnings(forged); }, "size_of_ann_warnings"},
            {[=] { get_ann_errors(forged, 0); }, "get_ann_errors"},
        };
        for (const auto &c : cases)
            EXPECT_EXIT(c.call(), testing::ExitedWithCode(1),
                        testing::Eq(std::string("\n***** Fatal error!\nerror: ") + c.caller +
                                    " passed an invalid ann\n\n"));
    }
}

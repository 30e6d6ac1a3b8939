// Where the output of a tree writer that hands over one piece per write
// stops at the output volume limit, worked out from the finished text alone.
#ifndef TESTS_SUPPORT_XML_PIECES_H
#define TESTS_SUPPORT_XML_PIECES_H

#include <cstddef>
#include <string>
#include <vector>

namespace test_support
{
    // The ends of the pieces of a tree's text, in order: an indentation, "<"
    // or "</", a node element's name, ">", a text element's open tag, its
    // escaped value, its close tag, a line end.
    std::vector<size_t> xml_piece_ends(const std::string &text);

    // How much of the text reaches the output when the stream takes room
    // more bytes before the limit: everything up to the end of the piece
    // that crosses it, or all of it.
    size_t xml_cut_at_limit(const std::string &text, size_t room);
}

#endif

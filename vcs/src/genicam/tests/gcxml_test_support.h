#pragma once
// Helpers shared by the writer tests.

#include "genicam/doc_builder.h"

#include <pugixml.hpp>

#include <initializer_list>
#include <string>
#include <string_view>

namespace gcxml_test {

// The element as the document printer writes it, indented with tabs.
inline std::string print(pugi::xml_node node)
{
    gcxml::xml_string_writer writer;
    node.print(writer, "\t");
    return writer.str();
}

// Lines joined with line feeds, each line ending in one. A leading '>' per
// level stands for a tab so that expected texts stay readable.
inline std::string lines(std::initializer_list<std::string_view> list)
{
    std::string out;
    for (std::string_view line : list) {
        while (!line.empty() && line.front() == '>') {
            out += '\t';
            line.remove_prefix(1);
        }
        out += line;
        out += '\n';
    }
    return out;
}

} // namespace gcxml_test

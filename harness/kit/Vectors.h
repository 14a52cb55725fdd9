// Vectors: the one loader of the test data files, natively and under Wine. A file holds
// whitespace-separated fields a row; "#" lines are comments, and one of them must say where
// the data came from ("# source: ...").
#pragma once

#include "harness/kit/Hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velkor::test {

using Row = std::vector<std::string>;

// The rows of `name`, a path below tests/vectors; with `fields` set, every row must have
// that many (a row that has not is reported and left out).
inline std::vector<Row> LoadVectors(const std::string& name, std::size_t fields = 0) {
    std::ifstream in(std::string(VELKOR_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << name;
    std::vector<Row> rows;
    bool sourced = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("# source:", 0) == 0) sourced = true;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Row row;
        for (std::string f; words >> f;)
            row.push_back(f);
        if (fields == 0 || row.size() == fields)
            rows.push_back(row);
        else
            ADD_FAILURE() << name << ": not " << fields << " fields: " << line.substr(0, 60);
    }
    EXPECT_TRUE(sourced) << name << " has no source line";
    EXPECT_FALSE(rows.empty()) << name << " has no vectors";
    return rows;
}

// The bytes of a hexadecimal field ("-" for none), as a string or as bytes.
inline std::string FromHex(const std::string& hex) {
    const auto bytes = ParseHex(hex);
    EXPECT_TRUE(bytes) << "not hexadecimal: " << hex.substr(0, 60);
    return bytes.value_or("");
}

inline std::vector<std::uint8_t> HexBytes(const std::string& hex) {
    const std::string bytes = FromHex(hex);
    return {bytes.begin(), bytes.end()};
}

} // namespace velkor::test

// Loads the line-format vector files: whitespace-separated fields, "#" lines skipped.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velkor::test {

using Row = std::vector<std::string>;

inline std::vector<Row> LoadVectors(const std::string& name) {
    std::ifstream in(std::string(VELKOR_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << name;
    std::vector<Row> rows;
    bool sourced = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("# source:", 0) == 0) sourced = true;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Row row;
        for (std::string f; fields >> f;)
            row.push_back(f);
        rows.push_back(row);
    }
    EXPECT_TRUE(sourced) << name << " has no source line";
    EXPECT_FALSE(rows.empty()) << name << " has no vectors";
    return rows;
}

// "-" stands for the empty string.
inline std::string FromHex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

} // namespace velkor::test

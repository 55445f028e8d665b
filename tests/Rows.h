#pragma once
// Names for the rows of parameterised tables: a row's `name` with every
// character that a test name cannot hold turned into '_'.
#include <gtest/gtest.h>

#include <string>

namespace tarnwell::tests {

template <class Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
    std::string out;
    for (const char c : std::string(info.param.name))
        out += (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '_';
    return out + "_" + std::to_string(info.index);
}

}  // namespace tarnwell::tests

// One table of rows as a parameterised suite, each row named by its `name`.
#define TARNWELL_ROWS(Suite, rows) \
    INSTANTIATE_TEST_SUITE_P(Rows, Suite, testing::ValuesIn(rows), tarnwell::tests::RowName<Suite::ParamType>)

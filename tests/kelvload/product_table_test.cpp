#include "loader/product_table.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(ProductTable, HoldsTheThirtyNineCodesInTheirFixedOrder) {
    const std::vector<std::uint32_t> expected = {
        20, 21,  22, 92, 4,  24, 42,  35,  65,  50,  28,  27, 88, 3,  12, 51, 52, 80,  5, 6,
        36, 120, 62, 61, 26, 29, 114, 120, 124, 116, 121, 70, 86, 84, 74, 93, 81, 168, 99};
    std::vector<std::uint32_t> codes;
    for (const ProductEntry& entry : ProductTable()) {
        codes.push_back(entry.code);
    }
    EXPECT_EQ(codes, expected);
}

TEST(ProductTable, NamesArePaddedToEightCharactersExceptOneOfSeven) {
    int sevens = 0;
    std::set<std::string> trimmedNames;
    for (const ProductEntry& entry : ProductTable()) {
        const size_t length = strnlen(entry.name, sizeof entry.name);
        ASSERT_LT(length, sizeof entry.name) << "name must be zero-terminated";
        const std::string name(entry.name, length);
        const size_t lastVisible = name.find_last_not_of(' ');
        ASSERT_NE(lastVisible, std::string::npos) << "code " << entry.code << " has no name";
        EXPECT_NE(name.front(), ' ') << name;
        if (length == 7) {
            ++sevens;
        } else {
            EXPECT_EQ(length, 8u) << "code " << entry.code << ": '" << name << "'";
        }
        trimmedNames.insert(name.substr(0, lastVisible + 1));
    }
    EXPECT_EQ(sevens, 1);
    // Every row names a different product, the duplicate code included.
    EXPECT_EQ(trimmedNames.size(), ProductTable().size());
}

TEST(ProductTable, LookupKeepsThePaddingAndTakesTheFirstOfTwoRows) {
    const auto table = ProductTable();
    EXPECT_EQ(LookupProductName(20), std::string(table[0].name));
    EXPECT_EQ(LookupProductName(20).size(), 8u);
    EXPECT_EQ(LookupProductName(99), std::string(table[38].name));
    // Code 120 stands at rows 21 and 27; the first wins.
    ASSERT_EQ(table[21].code, 120u);
    ASSERT_EQ(table[27].code, 120u);
    EXPECT_EQ(LookupProductName(120), std::string(table[21].name));
    EXPECT_NE(LookupProductName(120), std::string(table[27].name));
}

TEST(ProductTable, UnknownCodesHaveNoName) {
    for (std::uint32_t code : {0u, 1u, 2u, 255u, 256u + 20u, 0xFFFFFFFFu}) {
        EXPECT_EQ(LookupProductName(code), "") << code;
    }
}

} // namespace

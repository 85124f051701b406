#pragma once
// The products that answer a discover request, by the code they report.

#include <cstdint>
#include <span>
#include <string>

// One row of the product table. The display name is padded with trailing
// spaces to eight characters (seven in one row); the spaces are part of the
// name as the discovery list shows it.
struct ProductEntry {
    std::uint32_t code;
    char name[12];
};

// The table in its fixed order. A code may stand twice; the first row wins.
std::span<const ProductEntry> ProductTable();

// The display name of the first row with `code`, or "" when there is none.
std::string LookupProductName(std::uint32_t code);

#include "loader/product_table.h"

namespace {

constexpr ProductEntry kProducts[] = {
    {20, "Relay4  "},  {21, "Relay8  "},  {22, "Dimmer  "},  {92, "Gateway "},  {4, "Keypad  "},
    {24, "Radio   "},  {42, "Thermo  "},  {35, "Switch  "},  {65, "Meter   "},  {50, "Valve   "},
    {28, "Sensor  "},  {27, "Display "},  {88, "Bridge  "},  {3, "Panel   "},   {12, "Timer   "},
    {51, "Valve2  "},  {52, "Valve3  "},  {80, "Pump    "},  {5, "Keypad2 "},   {6, "Keypad3 "},
    {36, "Switch2 "},  {120, "Repeat  "}, {62, "Heater  "},  {61, "Fan     "},  {26, "Sensor2 "},
    {29, "Sensor3 "},  {114, "Beacon  "}, {120, "Repeat2 "}, {124, "Router  "}, {116, "Tag     "},
    {121, "Probe   "}, {70, "Lamp    "},  {86, "Siren   "},  {84, "Clock   "},  {74, "Door    "},
    {93, "Gateway2"},  {81, "Pump2   "},  {168, "Hub     "}, {99, "Dial   "},
};

} // namespace

std::span<const ProductEntry> ProductTable() {
    return kProducts;
}

std::string LookupProductName(std::uint32_t code) {
    for (const ProductEntry& entry : kProducts) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return {};
}
